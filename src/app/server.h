// TServer: the one server object and the composition root. It owns the
// process's state (TServerState: the settings, the timing, the tables, the
// remote console, the chat, the ban store in use, the supervision and the ban
// enforcement), the ban bases and the network members, hands each user what it
// needs, and its operations delegate to the rooms that carry them out.
//
// Construction, in order: the logs rotated (before anything can write to
// them); the shared ban base when configured; empty AllowList; TcpServer
// configured with the client command table and activated (when its port
// cannot be bound, nothing after it is started); ScreenServer when
// screenshots are on; State.Rcon and RegistryClient opened; the registration
// with the central registry; the web console when configured. The notifier,
// when configured, is started before the command port opens. Release, in
// order: WebConsole, AllowList, TcpServer, RegistryClient, State.Rcon,
// ScreenServer, the notifier (what it still holds is tried for a moment), the
// shared ban base.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/settings.h"
#include "base/timing.h"
#include "channel/command_server.h"
#include "supervision/ban_enforcement.h"
#include "supervision/server_state.h"
#include "platform/socket.h"
#include "bans/records/recorded_file_store.h"
#include "accounts/account_store.h"
#include "bans/appeal.h"
#include "screens/screen_server.h"
#include "bans/shared/postgres_ban_store.h"
#include "notify/notifier.h"
#include "supervision/health_watch.h"
#include "web/web_console.h"

class TServer {
 public:
  // Builds and activates everything with its own copies of settings and
  // timing; prints the lines of bind failures and of the registration. Main
  // thread only.
  TServer(const SettingsRecord& settings, const TimingRecord& timing);
  ~TServer();
  TServer(const TServer&) = delete;
  TServer& operator=(const TServer&) = delete;

  // False when the command port could not be bound: then nothing else was
  // started, and the program must stop. Main thread only.
  bool CommandPortBound() const { return commandPortBound_; }
  // Releases the members in order. False when the command server's threads
  // did not end within the termination wait. Idempotent. Main thread only.
  bool Release();

  // One command to the game server; the answer text, "" when it printed or
  // sent nothing, "sinw" after a failure. Thread safe.
  std::string RconCommand(const std::string& command);
  // The advertisement in the game chat. Main thread only.
  void Advertise();
  // One run of the supervision cycle; on a shared ban base, its heartbeat
  // handed to the base's worker. Main thread only.
  void Supervise();
  // Starts the startup grace of the supervision ("startup_grace"). Main
  // thread, once, before the main loop.
  void BeginStartupGrace();
  // What the ban base in use says of the banned ones among the identifiers,
  // each with the reason of its newest record. Main thread (the
  // supervision, without BusyFlag).
  TBanFindings FindBans(const std::set<std::string>& identifiers);
  // Counts every timed ban down by one minute; once an hour (and at the first
  // call) removes the screenshots past their age or the size bound, keeping
  // the evidence of ban records. Main thread only.
  void MaintainBanBase();
  // Replaces AllowList with the accepted lines of allow_connections.txt. Main thread only.
  void LoadAllowList();
  // The start-up registration and its refresh (only after an answered
  // registration). Main thread only.
  void RegisterWithRegistry();
  void RefreshRegistration();
  // Whether the registry answered the start-up registration. Main thread only.
  bool Registered() const { return registered_; }

  // The shared ban base when "ban_base" names one, else the file base with
  // its records (acserver.db); the one there is is put in place in
  // State.Bans. Before the state: they outlive the store in use that points
  // at one.
  std::unique_ptr<TPostgresBanStore> SharedBans;
  std::unique_ptr<records::TRecordedFileStore> FileBans;
  // The web console's accounts and audit trail, beside the records in use:
  // acserver.db, or the shared base (one account for every server of it).
  std::unique_ptr<TAccountStore> Accounts;
  // The appeals of the public ban list, beside the accounts: acserver.db, or
  // the shared base (every server of it sees and answers every appeal).
  std::unique_ptr<TAppealStore> Appeals;
  // The notifications to the admins' chat when "notify_url" is set: told of
  // every ban, web-console lift and settled change of the game server's
  // health. Before the state, whose ban enforcement tells it of each ban.
  std::unique_ptr<TNotifier> Notifier;
  // The state, built from the server's own copies of settings and timing;
  // everything below is built on it and released before it.
  TServerState State;
  platform::TUdpSocket RegistryClient;  // main thread only
  TCommandServer TcpServer;
  std::unique_ptr<TScreenServer> ScreenServer;  // only when AllowScreens is on
  // Main thread only (loaded and read by the supervision cycle).
  std::vector<std::string> AllowList;
  // The web console when "web_listen" is set (and allowed).
  std::unique_ptr<TWebConsole> WebConsole;

 private:
  bool commandPortBound_ = false;
  bool released_ = false;
  bool registered_ = false;  // the start-up registration was answered; main thread only
  std::chrono::steady_clock::time_point nextScreenPrune_{};  // main thread only
  THealthWatch healthWatch_;  // main thread only
};
