// Lines in the game chat: through the chat add-on's "amx_tsay <colour> <text>"
// while it answers, through the engine's "say <text>" on a game server
// without it (the "chat_command" setting chooses).
//
// The engine's say shows only the first kSayTextChars bytes of its text, fewer
// under a long hostname (SayTextRoom), drops the first and the last byte of a
// text that begins with a double quote, and shows nothing of one that begins
// with "//" (a comment to its tokeniser). So a longer text goes out as several
// say lines, cut where none of that can bite.
#pragma once

#include <atomic>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/mutex.h"
#include "base/settings.h"
#include "rcon/rcon_client.h"

// The lines of at most limit bytes that say shows as the text: cut at blanks
// (the blanks at a cut go; the engine would skip them anyway), never before a
// word that begins with `"` or `//`, so a continuation line never begins so;
// a word longer than limit is cut hard, a byte earlier when the next piece
// would begin so or the cut would fall inside a UTF-8 character. A text that
// fits is the one line, as it is (even when it begins with `"` itself).
// Thread safe.
std::vector<std::string> SplitSayText(const std::string& text, size_t limit);
// The most bytes of a say text that reach the players whole under this
// hostname on stock HLDS and ReHLDS alike: min(63, 122 - H), H the hostname's
// bytes, less 2 for each '#' and '%' of the hostname beyond the first (ReHLDS
// writes each as three bytes into the same 128). Never below
// kMinSayTextChars, though the engine then cuts the lines. Thread safe.
size_t SayTextRoom(const std::string& hostname);
// The hostname in the engine's answer to the "hostname" command
// (`"hostname" is "My CS Server"`); nullopt for any other text. Thread safe.
std::optional<std::string> HostnameInCvarAnswer(const std::string& text);
// The game chat of one game server: which command carries its lines, and the
// order of one text's say lines against another's.
class TChat {
 public:
  // rcon and settings must outlive the chat.
  TChat(TRconClient& rcon, const SettingsRecord& settings) : rcon_(rcon), settings_(settings) {}
  TChat(const TChat&) = delete;
  TChat& operator=(const TChat&) = delete;

  // Sends text to the game chat: one amx_tsay line, or the say lines of
  // SplitSayText, one exchange each, in order; the lines of one text are never
  // mixed with another's, and the rest of them is dropped once one could not be
  // sent (no challenge, a reject, a socket error). In "auto", an amx_tsay
  // answered with the empty text (the add-on is missing) is sent again as say,
  // and every later line goes out as say. Thread safe (the advertisement on the
  // main thread, bans on command threads); blocks for the exchanges.
  void Say(const std::string& colour, const std::string& text);

  // The game server's hostname as its status list shows it; the say lines are
  // cut to fit under it from then on. The supervision gives it after every
  // status list it reads; an empty one (no hostname line) is ignored. Without
  // one, the chat asks the game server ("hostname") before its first say line
  // and keeps that answer until a status list brings a hostname. Thread safe;
  // never waits for an exchange.
  void NoteHostname(const std::string& hostname);

 private:
  bool UseSay() const;
  // Sends the say lines of text, stopping at the first that did not go out.
  // Takes sayLinesLock_ for all of them.
  void SayLines(const std::string& text) EXCLUDES(sayLinesLock_);
  // The room for one say line (SayTextRoom) under the hostname known, asking
  // the game server for it first when none is; nullopt when that exchange
  // failed (the say lines would fail too). Says once on the console and in the
  // full log when the hostname leaves less than kMinSayTextChars.
  std::optional<size_t> SayRoom() REQUIRES(sayLinesLock_) EXCLUDES(hostnameLock_);

  TRconClient& rcon_;
  const SettingsRecord& settings_;
  // Set once an amx_tsay came back empty in "auto"; read by any thread.
  std::atomic<bool> addonMissing_{false};
  // Guards the order of say lines on the game server (the lines of one text go
  // out one after another, with no other text's lines between them) and the
  // two flags below. Held across the exchanges of the say lines, so taken
  // before the rcon client's lock, never while holding hostnameLock_.
  TMutex sayLinesLock_;
  // The game server has answered "hostname" (readable or not): not asked again.
  bool hostnameAsked_ GUARDED_BY(sayLinesLock_) = false;
  // The warning about a hostname too long for say lines was written.
  bool roomWarned_ GUARDED_BY(sayLinesLock_) = false;
  // Guards hostname_; held only to read or write it, never across an exchange,
  // so the supervision's NoteHostname never waits for say lines.
  TMutex hostnameLock_;
  // The hostname from the last status list, else from the "hostname" answer.
  std::optional<std::string> hostname_ GUARDED_BY(hostnameLock_);
};
