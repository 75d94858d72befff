// Construction and release of the server object; its operations delegate to
// the rooms that carry them out.
#include "app/server.h"

#include "announce/registration.h"
#include "app/allow_list.h"
#include "base/limits.h"
#include "base/settings.h"
#include "base/timing.h"
#include "channel/client_commands.h"
#include "game/ban_store.h"
#include "game/ban_enforcement.h"
#include "game/chat.h"
#include "game/rcon_limits.h"
#include "game/supervise.h"
#include "log/logs.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/program_dir.h"
#include "screens/screen_commands.h"

TServer* MainServer = nullptr;

TServer::TServer() {
  // First: every line of this run, the shared ban base's and the first
  // client's included, lands in the new full log, and no client is served
  // while the logs are being archived.
  std::string error;
  if (!RotateLogs(&error)) platform::ErrorLine("log rotation: " + error);

  if (IsSharedBanBase(Settings.BanBase)) {
    SharedBans = std::make_unique<TPostgresBanStore>(
        Settings.BanBase, platform::HostName() + ":" + std::to_string(Settings.RconPort),
        platform::DataDirectory() + kBanJournalFile);
    UseBanStore(SharedBans.get());
  }
  AllowList.clear();

  const int port = Settings.RconPort + kCommandPortOffset;
  TcpServer.Configure(port, kListenQueue, kMaxConnections, Timing.TerminateWaitMs);
  TcpServer.RegisterCommand("<connect>", "ConnectCmd", ConnectCmd);
  TcpServer.RegisterCommand("<disconnect>", "DisConnectCmd", DisConnectCmd);
  TcpServer.RegisterCommand("<ban>", "BanCmd", [this](CommandCall& call) { BanCmd(RconClient, call); });
  TcpServer.RegisterCommand("<update>", "UpdateCmd", UpdateCmd);
  TcpServer.RegisterCommand("<start_screen>", "ScreenCmd", ScreenCmd);
  TcpServer.RegisterCommand("<check_screen>", "ChkScreenCmd", ChkScreenCmd);
  if (!TcpServer.Activate(&error)) {
    platform::ConsoleLine("Could not bind TCP port:" + std::to_string(port));
    platform::ErrorLine(error);
    // Nothing else starts: without its command port no client can register,
    // so supervision would kick every player.
    return;
  }
  commandPortBound_ = true;

  if (Settings.AllowScreens) {
    ScreenServer = std::make_unique<TScreenServer>();
    if (!ScreenServer->Activate(port, &error)) {
      platform::ConsoleLine("Could not bind UDP port:" + std::to_string(port));
      platform::ErrorLine(error);
      platform::ConsoleLine("Screenshots cannot be received; everything else runs");
    }
  }

  if (!RconClient.Open(&error)) platform::ErrorLine("remote console socket: " + error);
  if (auto socket = platform::TUdpSocket::Open(&error)) {
    RegistryClient = std::move(*socket);
  } else {
    platform::ErrorLine("registry socket: " + error);
  }

  MainServer = this;
  CheckKickCommentFits();
  RegisterWithRegistry();
  WebConsole = TWebConsole::Start(RconClient);
}

TServer::~TServer() {
  Release();
  if (MainServer == this) MainServer = nullptr;
}

bool TServer::Release() {
  if (released_) return true;
  released_ = true;
  if (WebConsole) WebConsole->Stop();
  AllowList.clear();
  bool ended = TcpServer.Release();
  RegistryClient.Close();
  RconClient.Close();
  if (ScreenServer) ScreenServer->Release();
  // No command thread is left to look a ban up: the file base stands in again.
  // (Threads that outlived the release keep the shared base's last copy.)
  if (ended) UseBanStore(nullptr);
  if (SharedBans) SharedBans->Stop();
  return ended;
}

std::string TServer::RconCommand(const std::string& command) { return RconClient.Command(command); }

void TServer::Advertise() { SayInGame(RconClient, "green", Settings.AdvertText); }

void TServer::Supervise() {
  ::Supervise(RconClient, AllowList, [this] {
    LoadAllowList();
    RefreshRegistration();
  });
  BanStore().Refresh();
}

bool TServer::EnforceBan(const std::string& name, const std::string& address, const std::string& reason,
                         int32_t minutes) {
  return ::EnforceBan(RconClient, name, address, reason, minutes);
}

void TServer::MaintainBanBase() { BanStore().Maintain(); }

void TServer::LoadAllowList() { AllowList = ReadAllowListFile(); }

void TServer::RegisterWithRegistry() { ::RegisterWithRegistry(RegistryClient); }

void TServer::RefreshRegistration() { ::RefreshRegistration(RegistryClient); }
