// Placeholder until the command channel lands: nothing listens.
#include "channel/command_server.h"

struct TCommandServer::Connection {};

void CommandCall::SendCommandReply() { ReplyPending = false; }
std::string CommandCall::Reply() const { return ReplyText.empty() ? std::string() : ReplyText.front(); }
std::vector<std::string> SplitArguments(const std::string&) { return {}; }
int MatchCommand(const std::vector<CommandHandler>&, const std::string&) { return -1; }
TCommandServer::~TCommandServer() { Release(); }
void TCommandServer::Configure(int port, int listenQueue, int maxConnections, int terminateWaitMs) {
  port_ = port;
  listenQueue_ = listenQueue;
  maxConnections_ = maxConnections;
  terminateWaitMs_ = terminateWaitMs;
}
void TCommandServer::RegisterCommand(const std::string& word, const std::string& name, CommandHandlerFn handler) {
  handlers_.push_back(CommandHandler{word, name, std::move(handler)});
}
bool TCommandServer::Activate(std::string*) { return true; }
bool TCommandServer::Release() { return true; }
uint16_t TCommandServer::BoundPort() const { return 0; }
int TCommandServer::ConnectionCount() const { return 0; }
