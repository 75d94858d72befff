// What fits in one remote-console command datagram. A real game server executes
// a command datagram of at most 515 bytes and silently drops a longer one, so
// the system never sends a longer one: texts from clients are cut to fit, and
// a configured comment that cannot fit is reported at start-up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/settings.h"

// The longest challenge a game server hands out (0x7FFFFFFF in decimal).
constexpr size_t kMaxChallengeChars = 10;

// Bytes of the command datagram with this challenge, the settings' RconPass and the
// command: four 0xFF bytes, "rcon ", the challenge, a blank, the quoted
// password, a blank, the command. Thread safe.
size_t RconDatagramBytes(const SettingsRecord& settings, size_t challengeChars, const std::string& command);
// Room for a command text in a datagram with the longest challenge; 0 when the
// password alone fills it. Thread safe.
size_t RconCommandRoom(const SettingsRecord& settings);
// Cuts text so that prefix + text + suffix fits RconCommandRoom(). Thread safe.
std::string CutToFit(const SettingsRecord& settings, const std::string& prefix, const std::string& text,
                     const std::string& suffix);
// Prints a console line when a kick of a player with the longest name, carrying
// the configured Comment, cannot fit in one datagram. Main thread, at start-up.
void CheckKickCommentFits(const SettingsRecord& settings);
// The kick of the supervision cycle for a player: by userid when the engine's
// status list gave one ("kick #<userid> <comment>"), else by the name
// (neutralised) in quotes.
std::string SupervisionKickCommand(const SettingsRecord& settings, const std::string& name, int32_t userId = 0);
// The kick of a banned player: "ZELK anticheat: <duration>. Reason: <reason>"
// (the reason part only when there is one), by userid when known, else by the
// name in quotes; the reason (neutralised) is cut so that the command fits.
// When "appeal_url" is set and fits (AppealUrlFits), the text is instead
// "Banned: <reason> (<time left>). Appeal: <url>" ("Banned (<time left>)..."
// without a reason), <time left> "for ever" when minutesLeft is 0, else
// "<n> minutes left": the reason is cut so that the command fits and the game
// server shows the whole text, URL included.
std::string BanKickCommand(const SettingsRecord& settings, const std::string& name, int32_t userId,
                           const std::string& duration, const std::string& reason, int32_t minutesLeft = 0);
// An admin's kick from the web console: "kick #<userid> <reason>" when the
// userid is known, else "kick \"<name>\" \"<reason>\""; the name and the
// reason are neutralised and the reason cut so that the command fits.
std::string AdminKickCommand(const SettingsRecord& settings, const std::string& name, int32_t userId,
                             const std::string& reason);
// Whether the kicks of bans carry "appeal_url": it is set, and fits the kick
// of a player with the longest name, by name, with the longest time left and
// no reason, both in the command datagram and in what the game server shows.
// Thread safe.
bool AppealUrlFits(const SettingsRecord& settings);
// Prints a console line when "appeal_url" is set but does not fit: the kicks
// of bans then go without it. Main thread, at start-up.
void CheckAppealUrlFits(const SettingsRecord& settings);
