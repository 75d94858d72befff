// Construction and release of the server object; its operations delegate to
// the rooms that carry them out.
#include "app/server.h"

#include "announce/registration.h"
#include "app/allow_list.h"
#include "app/notices.h"
#include "base/limits.h"
#include "base/numbers.h"
#include "channel/client_commands.h"
#include "rcon/rcon_limits.h"
#include "log/logs.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/program_dir.h"
#include "platform/clock_text.h"
#include "bans/records/file_records.h"
#include "channel/screen_commands.h"
#include "screens/screen_evidence.h"
#include "screens/screen_receiver.h"
#include "screens/screen_retention.h"

TServer::TServer(const SettingsRecord& settings, const TimingRecord& timing)
    : settings_(settings),
      timing_(timing),
      RconClient(settings_, timing_),
      Chat(RconClient, settings_),
      Supervision(settings_, Tables, RconClient),
      Enforcement(settings_, RconClient, Chat, Bans, Supervision) {
  // First: every line of this run, the shared ban base's and the first
  // client's included, lands in the new full log, and no client is served
  // while the logs are being archived.
  std::string error;
  if (!RotateLogs(&error)) platform::ErrorLine("log rotation: " + error);

  if (IsSharedBanBase(settings_.BanBase)) {
    SharedBans = std::make_unique<TPostgresBanStore>(
        settings_.BanBase, ServerName(settings_),
        platform::DataDirectory() + kBanJournalFile);
    Bans.Use(SharedBans.get());
  } else {
    FileBans = std::make_unique<records::TRecordedFileStore>(records::RecordBasePath());
    Bans.Use(FileBans.get());
  }
  Supervision.SetBanCheck([this](const std::set<std::string>& identifiers) { return FindBans(identifiers); });
  Supervision.SetHostnameListener([this](const std::string& hostname) { Chat.NoteHostname(hostname); });
  Enforcement.SetEvidenceFinder([root = ScreenRootDirectory(settings_)](const std::string& address,
                                                                        const std::string& identifier, int64_t at) {
    std::vector<std::string> paths;
    std::string error;
    if (!FindScreenEvidence(root, address, identifier, at, paths, &error)) {
      WriteLog("Ban evidence: cannot read the screenshots of " + address + " (" + error + ")");
    }
    return paths;
  });
  if (!settings_.NotifyUrls.empty()) {
    Notifier = std::make_unique<TNotifier>(settings_.NotifyUrls, settings_.NotifyFormatMode);
    Enforcement.SetBanListener([this](const TBanRecord& ban) { Notifier->Post(BanNotice(ban)); });
  }
  AllowList.clear();

  const int port = settings_.RconPort + kCommandPortOffset;
  TcpServer.Configure(port, kListenQueue, kMaxConnections, timing_.TerminateWaitMs, timing_.TerminateCheckMs);
  TConnectionLimits limits;
  limits.MaxPerAddress = settings_.MaxConnectionsPerAddress;
  TcpServer.SetConnectionLimits(limits);
  TcpServer.RegisterCommand("<connect>", "ConnectCmd",
                            [this](CommandCall& call) { ConnectCmd(Tables, settings_, Enforcement, call); });
  TcpServer.RegisterCommand("<disconnect>", "DisConnectCmd",
                            [this](CommandCall& call) { DisConnectCmd(Tables, call); });
  TcpServer.RegisterCommand("<ban>", "BanCmd",
                            [this](CommandCall& call) { BanCmd(Tables, settings_, Enforcement, call); });
  TcpServer.RegisterCommand("<update>", "UpdateCmd", [this](CommandCall& call) { UpdateCmd(Tables, call); });
  TcpServer.RegisterCommand("<start_screen>", "ScreenCmd", [this](CommandCall& call) { ScreenCmd(Tables, call); });
  TcpServer.RegisterCommand("<check_screen>", "ChkScreenCmd",
                            [this](CommandCall& call) { ChkScreenCmd(Tables, call); });
  if (!TcpServer.Activate(&error)) {
    platform::ConsoleLine("Could not bind TCP port:" + std::to_string(port));
    platform::ErrorLine(error);
    // Nothing else starts: without its command port no client can register,
    // so supervision would kick every player.
    return;
  }
  commandPortBound_ = true;

  if (settings_.AllowScreens) {
    ScreenServer = std::make_unique<TScreenServer>(Tables, settings_, timing_);
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

  CheckKickCommentFits(settings_);
  RegisterWithRegistry();
  TLiftListener onLift;
  if (Notifier) {
    onLift = [this](const std::string& identifier, const TBanLift& lift, int removed) {
      Notifier->Post(LiftNotice(ServerName(settings_), identifier, lift, removed, platform::UnixSeconds()));
    };
  }
  WebConsole = TWebConsole::Start({settings_, Tables, Bans, Supervision.Report(), RconClient, Enforcement, onLift});
}

TServer::~TServer() { Release(); }

bool TServer::Release() {
  if (released_) return true;
  released_ = true;
  if (WebConsole) WebConsole->Stop();
  AllowList.clear();
  bool ended = TcpServer.Release();
  RegistryClient.Close();
  RconClient.Close();
  if (ScreenServer) ScreenServer->Release();
  if (Notifier) Notifier->Stop();
  // No command thread is left to look a ban up: the file base stands in again.
  // (Threads that outlived the release keep the shared base's last copy.)
  if (ended) Bans.Use(nullptr);
  if (SharedBans) SharedBans->Stop();
  return ended;
}

std::string TServer::RconCommand(const std::string& command) { return RconClient.Command(command); }

void TServer::Advertise() { Chat.Say("green", settings_.AdvertText); }

void TServer::Supervise() {
  // First, so that the run's look-ups see the bans made elsewhere.
  Bans.Get().Refresh();
  Supervision.Run(AllowList, [this] {
    LoadAllowList();
    RefreshRegistration();
  });
  if (!Notifier) return;
  if (const std::optional<THealthChange> change = healthWatch_.Note(RconClient.Health())) {
    Notifier->Post(HealthNotice(ServerName(settings_), *change, platform::UnixSeconds()));
  }
}

void TServer::BeginStartupGrace() {
  // Counted in main-loop ticks, so a shortened tick shortens it alike.
  Supervision.BeginStartupGrace(std::chrono::milliseconds(int64_t{settings_.StartupGraceSeconds} * timing_.TickMs));
}

TBanFindings TServer::FindBans(const std::set<std::string>& identifiers) {
  TBanFindings findings;
  std::map<std::string, std::string> banned;
  if (Enforcement.LookupAll(identifiers, banned) != BanLookup::Banned) return findings;
  for (const auto& [identifier, left] : banned) {
    TBanFinding& finding = findings[identifier];
    finding.MinutesLeft = left == "p" ? 0 : ParseInteger(left).value_or(0);
    // The newest record alone: an identifier may have thousands.
    TBanPage newest;
    std::string error;
    if (Bans.Get().HistoryPage(identifier, 0, 1, 1, newest, &error) && !newest.Records.empty()) {
      finding.Reason = newest.Records.front().Reason;
    }
  }
  return findings;
}

bool TServer::EnforceBan(const TBusyGuard& busy, const std::string& name, const std::string& address,
                         const std::string& reason, int32_t minutes) {
  return Enforcement.EnforceBan(busy, name, address, reason, minutes);
}

void TServer::MaintainBanBase() {
  Bans.Get().Maintain();
  const auto now = std::chrono::steady_clock::now();
  if (now < nextScreenPrune_) return;
  nextScreenPrune_ = now + std::chrono::hours(1);
  const TScreenRetention bounds{settings_.ScreensKeepDays, int64_t{settings_.ScreensMaxMb} * 1048576};
  if (bounds.KeepDays == 0 && bounds.MaxBytes == 0) return;
  std::set<std::string> evidence;
  std::string error;
  if (!Bans.Get().EvidencePaths(evidence, &error)) {
    // Without the list nothing could tell evidence from the rest: nothing goes.
    WriteLog("Screenshots: none removed this hour, the evidence of bans cannot be read (" + error + ")");
    return;
  }
  const std::string line =
      ScreenPruneLine(PruneScreens(ScreenRootDirectory(settings_), bounds, evidence, platform::UnixSeconds()), bounds);
  if (!line.empty()) WriteEvent(line);
}

void TServer::LoadAllowList() { AllowList = ReadAllowListFile(); }

void TServer::RegisterWithRegistry() {
  if (settings_.RegistryHost.empty()) {
    platform::ConsoleLine("Registry announcement: off (no registry_host in zelk_config.txt)");
    return;
  }
  if (::RegisterWithRegistry(RegistryClient, settings_, timing_)) registered_ = true;
}

void TServer::RefreshRegistration() {
  if (registered_) ::RefreshRegistration(RegistryClient, settings_, timing_);
}
