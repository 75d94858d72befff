// TServer: the one server object and the composition root. It owns the
// process's state (the settings, the timing, the tables, the ban store in
// use, the supervision and the ban enforcement) and the network members,
// hands each user what it needs, and its operations delegate to the rooms
// that carry them out.
//
// Construction, in order: the logs rotated (before anything can write to
// them); the shared ban base when configured; empty AllowList; TcpServer
// configured with the six commands and activated (when its port cannot be
// bound, nothing after it is started); ScreenServer when screenshots are on;
// RconClient and RegistryClient opened; the registration with the
// central registry; the web console when configured. Release, in order:
// WebConsole, AllowList, TcpServer, RegistryClient, RconClient, ScreenServer,
// the shared ban base.
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
#include "bans/ban_store.h"
#include "rcon/chat.h"
#include "rcon/rcon_client.h"
#include "supervision/supervise.h"
#include "platform/socket.h"
#include "bans/records/recorded_file_store.h"
#include "registry/tables.h"
#include "screens/screen_server.h"
#include "bans/shared/postgres_ban_store.h"
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

  const SettingsRecord& Settings() const { return settings_; }
  const TimingRecord& Timing() const { return timing_; }

  // One command to the game server; the answer text, "" when it printed or
  // sent nothing, "sinw" after a failure. Thread safe.
  std::string RconCommand(const std::string& command);
  // The advertisement in the game chat. Main thread only.
  void Advertise();
  // One run of the supervision cycle. Main thread only.
  void Supervise();
  // Starts the startup grace of the supervision ("startup_grace"). Main
  // thread, once, before the main loop.
  void BeginStartupGrace();
  // What the ban base in use says of the banned ones among the identifiers,
  // each with the reason of its newest record. Main thread (the
  // supervision, without BusyFlag).
  TBanFindings FindBans(const std::set<std::string>& identifiers);
  // Carries out a reported ban, under the guard the caller holds.
  bool EnforceBan(const TBusyGuard& busy, const std::string& name, const std::string& address,
                  const std::string& reason, int32_t minutes) REQUIRES(busy.Flag());
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

 private:
  // First: everything below reads them.
  const SettingsRecord settings_;
  const TimingRecord timing_;

 public:
  // The state, then the members, in this order.
  TTables Tables;
  // The shared ban base when "ban_base" names one, else the file base with
  // its records (acserver.db); the one there is is put in place in Bans.
  std::unique_ptr<TPostgresBanStore> SharedBans;
  std::unique_ptr<records::TRecordedFileStore> FileBans;
  TBanStoreInUse Bans;
  TRconClient RconClient;
  TChat Chat;
  TSupervision Supervision;
  TBanEnforcement Enforcement;
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
};
