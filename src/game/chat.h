// Lines in the game chat: through the chat add-on's "amx_tsay <colour> <text>"
// while it answers, through the engine's "say <text>" on a game server
// without it (the "chat_command" setting chooses).
//
// The engine's say shows only the first kSayTextChars bytes of its text, drops
// the first and the last byte of a text that begins with a double quote, and
// shows nothing of one that begins with "//" (a comment to its tokeniser). So a
// longer text goes out as several say lines, cut where none of that can bite.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "game/rcon_client.h"

// The lines of at most limit bytes that say shows as the text: cut at blanks
// (the blanks at a cut go; the engine would skip them anyway), never before a
// word that begins with `"` or `//`, so a continuation line never begins so;
// a word longer than limit is cut hard, a byte earlier when the next piece
// would begin so or the cut would fall inside a UTF-8 character. A text that
// fits is the one line, as it is (even when it begins with `"` itself).
// Thread safe.
std::vector<std::string> SplitSayText(const std::string& text, size_t limit);
// Sends text to the game chat: one amx_tsay line, or the say lines of
// SplitSayText, one exchange each, in order; the lines of one text are never
// mixed with another's, and the rest of them is dropped once one could not be
// sent (no challenge, a reject, a socket error). In "auto", an amx_tsay
// answered with the empty text (the add-on is missing) is sent again as say,
// and every later line goes out as say. Thread safe (the advertisement on the
// main thread, bans on command threads); blocks for the exchanges.
void SayInGame(TRconClient& rcon, const std::string& colour, const std::string& text);
// Back to amx_tsay first (tests).
void ResetChatForTesting();
