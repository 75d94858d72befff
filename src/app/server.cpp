// Construction and release of the server object, and its small operations.
#include "app/server.h"

#include "app/limits.h"
#include "app/settings.h"
#include "app/timing.h"
#include "channel/client_commands.h"
#include "game/rcon_limits.h"
#include "log/logs.h"
#include "platform/console.h"
#include "registry/tables.h"
#include "screens/screen_commands.h"

TServer* MainServer = nullptr;

TServer::TServer() {
  AllowList.clear();

  const int port = Settings.RconPort + kCommandPortOffset;
  TcpServer.Configure(port, kListenQueue, kMaxConnections, Timing.TerminateWaitMs);
  TcpServer.RegisterCommand("<connect>", "ConnectCmd", ConnectCmd);
  TcpServer.RegisterCommand("<disconnect>", "DisConnectCmd", DisConnectCmd);
  TcpServer.RegisterCommand("<ban>", "BanCmd", [this](CommandCall& call) { BanCmd(*this, call); });
  TcpServer.RegisterCommand("<update>", "UpdateCmd", UpdateCmd);
  TcpServer.RegisterCommand("<start_screen>", "ScreenCmd", ScreenCmd);
  TcpServer.RegisterCommand("<check_screen>", "ChkScreenCmd", ChkScreenCmd);
  std::string error;
  if (!TcpServer.Activate(&error)) {
    platform::ConsoleLine("Could not bind TCP port:" + std::to_string(port));
    platform::ErrorLine(error);
  }

  if (Settings.AllowScreens) {
    ScreenServer = std::make_unique<TScreenServer>();
    if (!ScreenServer->Activate(port, &error)) {
      platform::ConsoleLine("Could not bind UDP port:" + std::to_string(port));
      platform::ErrorLine(error);
    }
  }

  if (!RotateLogs(&error)) platform::ErrorLine("log rotation: " + error);

  if (auto socket = platform::TUdpSocket::Open(&error)) {
    RconClient = std::move(*socket);
  } else {
    platform::ErrorLine("remote console socket: " + error);
  }
  if (auto socket = platform::TUdpSocket::Open(&error)) {
    RegistryClient = std::move(*socket);
  } else {
    platform::ErrorLine("registry socket: " + error);
  }

  MainServer = this;
  CheckKickCommentFits();
  RegisterWithRegistry();
}

TServer::~TServer() {
  Release();
  if (MainServer == this) MainServer = nullptr;
}

bool TServer::Release() {
  if (released_) return true;
  released_ = true;
  AllowList.clear();
  bool ended = TcpServer.Release();
  RegistryClient.Close();
  {
    std::lock_guard<std::mutex> guard(rconLock_);
    RconClient.Close();
  }
  if (ScreenServer) ScreenServer->Release();
  return ended;
}

void TServer::Advertise() { RconCommand("amx_tsay green " + Settings.AdvertText); }

void TServer::PrintOnlineCount() { platform::ConsoleLine("total players online: " + std::to_string(ClientCount)); }
