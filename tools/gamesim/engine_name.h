// How the engine (ReHLDS) lists the name a player's game sends at connect. The
// simulator keeps its own copy of the rule, apart from the server's matcher, so
// that a fault there shows up against it.
#pragma once

#include <string>
#include <vector>

namespace gamesim {

// The name as the engine keeps it before it looks at the other players:
//   - a `"` ends it (it ends the quoted userinfo of the connect line); a `\`,
//     which the engine refuses at connect, is dropped;
//   - `#`, `%`, `&`, and a letter or digit right after a `+`, become their
//     full-width forms (3 bytes each: `&` is EF BC 86), within 31 bytes;
//   - unprintable characters go, blanks at both ends are trimmed (inner ones
//     stay); if that changed anything, a broken UTF-8 sequence reads as `?`,
//     otherwise a broken one (the 31-byte cut) is dropped;
//   - empty, `console` (any case) or holding `..`: `unnamed`.
std::string EngineName(const std::string& sent);

// The name the engine lists for a player whose kept name is `name` while the
// names in `listed` are taken: the name itself when no taken name equals it
// (ASCII case-insensitive), otherwise `(1)name`, `(2)name`, ... the first free
// one, the name part cut to 28 bytes without a broken UTF-8 character.
std::string UniqueListedName(const std::string& name, const std::vector<std::string>& listed);

}  // namespace gamesim
