// Placeholder until the supervision cycle lands.
#include "app/server.h"
#include "game/status_mark.h"

std::string StatusMark;

void TServer::Supervise() {}
