// Lines in the game chat: through the chat add-on's "amx_tsay <colour> <text>"
// while it answers, through the engine's "say <text>" on a game server
// without it (the "chat_command" setting chooses).
#pragma once

#include <string>

#include "game/rcon_client.h"

// The command that shows text in colour with the form now in use.
std::string ChatCommandText(const std::string& colour, const std::string& text);
// Sends text to the game chat. In "auto", an amx_tsay answered with the empty
// text (the add-on is missing) is sent again as say, and every later line goes
// out as say. Thread safe (the advertisement on the main thread, bans on
// command threads).
void SayInGame(TRconClient& rcon, const std::string& colour, const std::string& text);
// Back to amx_tsay first (tests).
void ResetChatForTesting();
