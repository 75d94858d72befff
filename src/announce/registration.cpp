// Placeholder until the registration lands.
#include "app/server.h"

void TServer::RegisterWithRegistry() {}
void TServer::RefreshRegistration() {}
