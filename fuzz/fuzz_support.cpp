#include "fuzz_support.h"

#include <map>
#include <memory>

#include "bans/ban_base.h"
#include "channel/command_table.h"
#include "log/logs.h"
#include "platform/files.h"
#include "platform/program_dir.h"
#include "registry/tables.h"

namespace fuzz {
namespace {

const platform::Endpoint kGameServer{0x7F000001, 27015};
const std::string kHeader = "\xFF\xFF\xFF\xFF";

// The game server: a challenge for every challenge request, the scripted
// answer for every command; nothing arrives unasked.
class TScriptedLink : public TRconLink {
 public:
  explicit TScriptedLink(std::shared_ptr<std::map<std::string, std::string>> answers) : answers_(std::move(answers)) {}

  bool Send(const std::string& datagram, const platform::Endpoint&, std::string*) override {
    if (datagram == kHeader + "challenge rcon") {
      queued_.push_back(kHeader + "challenge rcon 12345\n");
      return true;
    }
    // "rcon <challenge> "<password>" <command>"
    const size_t quote = datagram.find('"', datagram.find('"') + 1);
    const std::string command = quote == std::string::npos ? std::string() : datagram.substr(quote + 2);
    std::string text;
    for (const auto& [prefix, answer] : *answers_) {
      if (command.compare(0, prefix.size(), prefix) == 0) text = answer;
    }
    queued_.push_back(kHeader + "l" + text + std::string(2, '\0'));
    return true;
  }

  platform::ReceiveStatus Receive(std::string& data, platform::Endpoint& from, int, std::string*) override {
    if (queued_.empty()) return platform::ReceiveStatus::Timeout;
    data = queued_.front();
    queued_.erase(queued_.begin());
    from = kGameServer;
    return platform::ReceiveStatus::Datagram;
  }

 private:
  std::shared_ptr<std::map<std::string, std::string>> answers_;
  std::vector<std::string> queued_;
};

// The process's one set: the answers the scripted game server gives, the state
// whose remote console talks to it, and the command table bound to the state.
struct TFuzzWorld {
  std::shared_ptr<std::map<std::string, std::string>> Answers = std::make_shared<std::map<std::string, std::string>>();
  TServerState State{PlausibleSettings()};
  std::vector<CommandHandler> Handlers = BindClientCommands(CommandContextOf(State));
  TFuzzWorld() { State.Rcon.UseLink(std::make_unique<TScriptedLink>(Answers)); }
};

TFuzzWorld& World() {
  static TFuzzWorld* world = new TFuzzWorld();  // never destroyed: the targets end with the process
  return *world;
}

}  // namespace

SettingsRecord PlausibleSettings() {
  SettingsRecord settings;
  settings.RconHost = "127.0.0.1";
  settings.RconPort = kGameServer.Port;
  settings.RconPass = "secret";
  settings.ClientId = "abc";
  settings.AllowScreens = true;
  settings.BanTime = 30;
  return settings;
}

void SetUpProcess() { platform::MakeDirectory(LogDirectory()); }

TServerState& State() { return World().State; }

void Answer(const std::string& prefix, const std::string& text) { (*World().Answers)[prefix] = text; }

const std::vector<CommandHandler>& Handlers() { return World().Handlers; }

void SetUpInput() {
  static unsigned inputs = 0;
  {
    TBusyGuard busy(State().Tables);
    ResetClients(busy);
    ResetPlayers(busy);
  }
  platform::RemoveFile(BanBasePath());
  if (++inputs % 1000 == 0) {
    platform::CreateEmptyFile(LogDirectory() + "zelk_logs.txt");
    platform::CreateEmptyFile(LogDirectory() + "zelk_light_logs.txt");
  }
}

std::string Text(const uint8_t* data, size_t size) { return std::string(reinterpret_cast<const char*>(data), size); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace fuzz
