// The settings record. It is filled from zelk_config.txt once at start-up,
// before any other thread exists; the server object keeps its copy, and
// everything else reads it through a const reference, so it needs no lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The default download invitation of "comment", and the built-in advertisement.
std::string DefaultComment();
std::string DefaultAdvertText();

// How the supervision asks for the players ("status_query").
enum class StatusQuery {
  Auto,    // "zelk_stat 1", and the engine's "status" when the add-on answers nothing
  Addon,   // only "zelk_stat 1"
  Status,  // only "status"
};

// How lines go to the game chat ("chat_command").
enum class ChatCommand {
  Auto,     // "amx_tsay", and "say" once the chat add-on answers nothing
  AmxTsay,  // only "amx_tsay <colour> <text>"
  Say,      // only "say <text>"
};

// The shape of the notifications' JSON ("notify_format").
enum class NotifyFormat {
  Discord,  // a Discord webhook's message: content and one embed
  Json,     // a plain object: {"event": ..., the event's fields}
};

struct SettingsRecord {
  std::string RconHost;
  int32_t RconPort = 0;
  std::string RconPass;
  int32_t BanTime = 0;
  bool AllowScreens = false;
  uint8_t ScreenQuality = 40;
  uint8_t ScreenInterval = 12;  // minutes
  std::string ScreenDir;
  int32_t ScreensKeepDays = 14;   // older screenshots are removed; 0: no age bound
  int32_t ScreensMaxMb = 2048;    // beyond this in all, the oldest are removed; 0: no size bound
  std::string ClientVersion = "0.0.0";
  std::string Comment = DefaultComment();
  std::string ClientId;  // capacity 128
  bool ProcsEnabled = false;
  std::string ProcsDir;
  std::string FtpUserName;  // capacity 124
  std::string FtpPass;      // capacity 124
  std::string FtpHost;      // capacity 124
  bool FtpConfigured = false;
  std::string RemotePass;  // capacity 32
  // Where the central registry listens ("registry_host"); empty (the default):
  // no announcement at all, so that a fresh install sends nothing anywhere
  // and waits for no answer.
  std::string RegistryHost;
  int32_t RegistryPort = 27015;
  StatusQuery StatusQueryMode = StatusQuery::Auto;
  std::string BanBase;      // "file" (or empty): zelk_bans.txt; a postgresql:// URI: the shared base
  std::string WebListen;    // "IP:port" of the web console; empty: off
  std::string WebPassword;  // needed on any address but loopback
  std::string WebHosts;     // more host names the web console answers for (behind a proxy), blank or comma separated
  std::string WebTrustedProxies;  // proxies whose X-Forwarded-For names the web client, IPv4, blank or comma separated
  // PEM files of the web console's certificate (with its chain) and private
  // key, read at start; both set: the console speaks HTTPS only.
  std::string WebTlsCert;
  std::string WebTlsKey;
  ChatCommand ChatCommandMode = ChatCommand::Auto;
  // Command connections from one address at once ("max_connections_per_address"); 0: no cap.
  int32_t MaxConnectionsPerAddress = 0;
  // After a start, nobody is kicked for having no client for this many
  // seconds of the main loop ("startup_grace"), so that the clients of the
  // players already on the game server can reconnect; 0: off.
  int32_t StartupGraceSeconds = 60;
  // Where bans, lifts and changes of the game server's health are posted
  // ("notify_url", blank separated); none: no notifications, no thread.
  std::vector<std::string> NotifyUrls;
  NotifyFormat NotifyFormatMode = NotifyFormat::Discord;
  // The public ban list at /bans of the web console, with its appeal form,
  // open to anyone without a login ("web_public"); its bans' screenshots
  // shown there too ("web_public_evidence").
  bool WebPublic = false;
  bool WebPublicEvidence = false;
  // Where a banned player may appeal ("appeal_url"): carried by the kick of a
  // ban when it fits; empty: the kick texts as they always were.
  std::string AppealUrl;
  // Not settable from the file.
  std::string AdvertText = DefaultAdvertText();
};

// "host:rconport": how this server names itself in the ban records it makes.
std::string ServerName(const SettingsRecord& settings);

// "postgresql://..." or "postgres://...": a shared ban base rather than the file.
bool IsSharedBanBase(const std::string& banBase);
// "ban_base" names a base the server can use: empty or "file" (zelk_bans.txt),
// or a shared one.
bool IsKnownBanBase(const std::string& banBase);
