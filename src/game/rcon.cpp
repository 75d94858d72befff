// Placeholder until the remote console lands: the game server looks silent.
#include "app/server.h"

std::string TServer::RconCommand(const std::string&) { return std::string(); }
