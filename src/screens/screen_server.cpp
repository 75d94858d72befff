// Placeholder until the screen receiver lands.
#include "screens/screen_server.h"

TScreenServer::~TScreenServer() { Release(); }
bool TScreenServer::Activate(int, std::string*) { return true; }
void TScreenServer::Release() {}
uint16_t TScreenServer::BoundPort() const { return 0; }
std::string HandleScreenDatagram(const std::string&, const std::string&) { return std::string(); }
std::string MakeFileNameSafe(const std::string& text) { return text; }
