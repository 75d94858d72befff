// A player's name as the game server lists it, against the name the player's
// anti-cheat client announced to us.
//
// The engine never sees the client's name: it lists its own version of the
// name the player's game sent. It ends the name at a double quote, rewrites
// some characters (ReHLDS into full-width forms, stock HLDS into blanks), trims
// blanks at both ends, cuts the name to 31 bytes and drops a UTF-8 character
// broken by the cut, lists "console" as "unnamed", and lists a second player
// of a name as "(1)Name". Our command line, for its part, rebuilds a name with
// single blanks. So a client and its player are matched as the engine would
// list the client's name, never byte for byte; every look-up between the two
// tables goes through ListedAs.
#pragma once

#include <cstdint>
#include <string>

// The engines whose listings are matched.
enum class EngineKind { ReHlds, StockHlds };

// The name a game server of that kind lists for a player whose game sent
// `sent`, before any "(1)" prefix of a duplicate. Thread safe.
std::string ListedForm(const std::string& sent, EngineKind engine);

// Whether the game server's listed name can be the player of a client that
// announced `announced`, on either engine: equal once both engines' rewriting,
// the trim, the 31-byte cut and "console" are applied to the announced name,
// inner runs of blanks compared as one blank, with or without a duplicate's
// "(N)" prefix. An exact match costs one comparison. Thread safe.
bool ListedAs(const std::string& listed, const std::string& announced);

// A fingerprint that two names matched by ListedAs always share (the first
// bytes of the name once the rewritten characters, blanks and a "(N)" prefix
// are set aside), never 0: the tables compare it before calling ListedAs.
// Thread safe.
uint64_t ListedNameKey(const std::string& name);
