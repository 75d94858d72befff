// Construction and release of the server object; its operations delegate to
// the rooms that carry them out.
#include "app/server.h"

#include "announce/registration.h"
#include "app/allow_list.h"
#include "app/notices.h"
#include "bans/records/account_base.h"
#include "bans/shared/postgres_accounts.h"
#include "bans/shared/postgres_appeals.h"
#include "bans/records/appeal_base.h"
#include "base/limits.h"
#include "base/numbers.h"
#include "channel/command_table.h"
#include "rcon/rcon_limits.h"
#include "log/logs.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/program_dir.h"
#include "platform/clock_text.h"
#include "bans/records/file_records.h"
#include "screens/screen_evidence.h"
#include "screens/screen_receiver.h"
#include "screens/screen_retention.h"

TServer::TServer(const SettingsRecord& settings, const TimingRecord& timing)
    : State(settings, timing) {
  // First: every line of this run, the shared ban base's and the first
  // client's included, lands in the new full log, and no client is served
  // while the logs are being archived.
  std::string error;
  if (!RotateLogs(&error)) platform::ErrorLine("log rotation: " + error);

  if (IsSharedBanBase(State.Settings.BanBase)) {
    SharedBans = std::make_unique<TPostgresBanStore>(
        State.Settings.BanBase, ServerName(State.Settings),
        platform::DataDirectory() + kBanJournalFile);
    State.Bans.Use(SharedBans.get());
    // One account for every server of the community, and one set of
    // appeals: a ban's appeal is seen and answered on any of them.
    Accounts = std::make_unique<TPostgresAccounts>(State.Settings.BanBase);
    Appeals = std::make_unique<TPostgresAppeals>(State.Settings.BanBase);
  } else {
    FileBans = std::make_unique<records::TRecordedFileStore>(records::RecordBasePath());
    State.Bans.Use(FileBans.get());
    Accounts = std::make_unique<records::TSqliteAccounts>(records::RecordBasePath());
    Appeals = std::make_unique<records::TSqliteAppeals>(records::RecordBasePath());
  }
  State.Supervision.SetBanCheck([this](const std::set<std::string>& identifiers) { return FindBans(identifiers); });
  State.Supervision.SetHostnameListener([this](const std::string& hostname) { State.Chat.NoteHostname(hostname); });
  State.Enforcement.SetEvidenceFinder([root = ScreenRootDirectory(State.Settings)](
                                          const std::string& address, const std::string& identifier, int64_t at) {
    std::vector<std::string> paths;
    std::string error;
    if (!FindScreenEvidence(root, address, identifier, at, paths, &error)) {
      WriteLog("Ban evidence: cannot read the screenshots of " + address + " (" + error + ")");
    }
    return paths;
  });
  if (!State.Settings.NotifyUrls.empty()) {
    Notifier = std::make_unique<TNotifier>(State.Settings.NotifyUrls, State.Settings.NotifyFormatMode);
    State.Enforcement.SetBanListener([this](const TBanRecord& ban) { Notifier->Post(BanNotice(ban)); });
  }
  AllowList.clear();

  const int port = State.Settings.RconPort + kCommandPortOffset;
  TcpServer.Configure(port, kListenQueue, kMaxConnections, State.Timing.TerminateWaitMs,
                      State.Timing.TerminateCheckMs);
  TConnectionLimits limits;
  limits.MaxPerAddress = State.Settings.MaxConnectionsPerAddress;
  TcpServer.SetConnectionLimits(limits);
  RegisterClientCommands(TcpServer, CommandContextOf(State));
  if (!TcpServer.Activate(&error)) {
    platform::ConsoleLine("Could not bind TCP port:" + std::to_string(port));
    platform::ErrorLine(error);
    // Nothing else starts: without its command port no client can register,
    // so supervision would kick every player.
    return;
  }
  commandPortBound_ = true;

  if (State.Settings.AllowScreens) {
    ScreenServer = std::make_unique<TScreenServer>(State.Tables, State.Settings, State.Timing);
    if (!ScreenServer->Activate(port, &error)) {
      platform::ConsoleLine("Could not bind UDP port:" + std::to_string(port));
      platform::ErrorLine(error);
      platform::ConsoleLine("Screenshots cannot be received; everything else runs");
    }
  }

  if (!State.Rcon.Open(&error)) platform::ErrorLine("remote console socket: " + error);
  if (auto socket = platform::TUdpSocket::Open(&error)) {
    RegistryClient = std::move(*socket);
  } else {
    platform::ErrorLine("registry socket: " + error);
  }

  CheckKickCommentFits(State.Settings);
  CheckAppealUrlFits(State.Settings);
  RegisterWithRegistry();
  TLiftListener onLift;
  if (Notifier) {
    onLift = [this](const std::string& identifier, const TBanLift& lift, int removed) {
      Notifier->Post(LiftNotice(ServerName(State.Settings), identifier, lift, removed, platform::UnixSeconds()));
    };
  }
  TServerLister servers;
  if (SharedBans) {
    servers = [this](std::vector<TServerBeat>& list, std::string* error) { return SharedBans->Servers(list, error); };
  }
  WebConsole = TWebConsole::Start({State.Settings, State.Tables, State.Bans, State.Supervision.Report(), State.Rcon,
                                   State.Enforcement, Accounts.get(), onLift, servers, Appeals.get()});
}

TServer::~TServer() { Release(); }

bool TServer::Release() {
  if (released_) return true;
  released_ = true;
  if (WebConsole) WebConsole->Stop();
  AllowList.clear();
  bool ended = TcpServer.Release();
  RegistryClient.Close();
  State.Rcon.Close();
  if (ScreenServer) ScreenServer->Release();
  if (Notifier) Notifier->Stop();
  // No command thread is left to look a ban up: the file base stands in again.
  // (Threads that outlived the release keep the shared base's last copy.)
  if (ended) State.Bans.Use(nullptr);
  if (SharedBans) SharedBans->Stop();
  return ended;
}

std::string TServer::RconCommand(const std::string& command) { return State.Rcon.Command(command); }

void TServer::Advertise() { State.Chat.Say("green", State.Settings.AdvertText); }

void TServer::Supervise() {
  // First, so that the run's look-ups see the bans made elsewhere.
  State.Bans.Get().Refresh();
  State.Supervision.Run(AllowList, [this] {
    LoadAllowList();
    RefreshRegistration();
  });
  // The worker writes it; the run never waits for the base.
  if (SharedBans) {
    SharedBans->Beat(BeatOf(ServerName(State.Settings), State.Supervision.Report().Get(), platform::UnixSeconds()));
  }
  if (!Notifier) return;
  if (const std::optional<THealthChange> change = healthWatch_.Note(State.Rcon.Health())) {
    Notifier->Post(HealthNotice(ServerName(State.Settings), *change, platform::UnixSeconds()));
  }
}

void TServer::BeginStartupGrace() {
  // Counted in main-loop ticks, so a shortened tick shortens it alike.
  State.Supervision.BeginStartupGrace(
      std::chrono::milliseconds(int64_t{State.Settings.StartupGraceSeconds} * State.Timing.TickMs));
}

TBanFindings TServer::FindBans(const std::set<std::string>& identifiers) {
  TBanFindings findings;
  std::map<std::string, std::string> banned;
  if (State.Enforcement.LookupAll(identifiers, banned) != BanLookup::Banned) return findings;
  for (const auto& [identifier, left] : banned) {
    TBanFinding& finding = findings[identifier];
    finding.MinutesLeft = left == "p" ? 0 : ParseInteger(left).value_or(0);
    // The newest record alone: an identifier may have thousands.
    TBanPage newest;
    std::string error;
    TBanRecords* records = State.Bans.Records();
    if (records != nullptr && records->HistoryPage(identifier, 0, 1, 1, newest, &error) && !newest.Records.empty()) {
      finding.Reason = newest.Records.front().Reason;
    }
  }
  return findings;
}

void TServer::MaintainBanBase() {
  State.Bans.Get().Maintain();
  const auto now = std::chrono::steady_clock::now();
  if (now < nextScreenPrune_) return;
  nextScreenPrune_ = now + std::chrono::hours(1);
  const TScreenRetention bounds{State.Settings.ScreensKeepDays, int64_t{State.Settings.ScreensMaxMb} * 1048576};
  if (bounds.KeepDays == 0 && bounds.MaxBytes == 0) return;
  std::set<std::string> evidence;
  std::string error;
  TBanRecords* records = State.Bans.Records();
  if (records != nullptr && !records->EvidencePaths(evidence, &error)) {
    // Without the list nothing could tell evidence from the rest: nothing goes.
    WriteLog("Screenshots: none removed this hour, the evidence of bans cannot be read (" + error + ")");
    return;
  }
  const std::string line = ScreenPruneLine(
      PruneScreens(ScreenRootDirectory(State.Settings), bounds, evidence, platform::UnixSeconds()), bounds);
  if (!line.empty()) WriteEvent(line);
}

void TServer::LoadAllowList() { AllowList = ReadAllowListFile(); }

void TServer::RegisterWithRegistry() {
  if (State.Settings.RegistryHost.empty()) {
    platform::ConsoleLine("Registry announcement: off (no registry_host in zelk_config.txt)");
    return;
  }
  if (::RegisterWithRegistry(RegistryClient, State.Settings, State.Timing)) registered_ = true;
}

void TServer::RefreshRegistration() {
  if (registered_) ::RefreshRegistration(RegistryClient, State.Settings, State.Timing);
}
