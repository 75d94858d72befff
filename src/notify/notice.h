// One event for the admins' chat, as plain data: a line that says it all, a
// title, and fields. The composition root turns the producers' records (a
// ban, a lift, the game server's health) into notices, so this room knows
// nothing of bans or game servers. Texts are the program's own 8-bit texts;
// the writer of the body makes them valid UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TNoticeField {
  std::string Key;    // its key in the plain JSON ("identifier"); empty: only in a Discord embed
  std::string Label;  // its name in a Discord embed ("Identifier"); empty: only in the plain JSON
  std::string Text;   // its value; a field with an empty text is left out of a Discord embed
  std::optional<int64_t> Number;  // the plain JSON writes this number rather than Text
  bool Inline = true;  // a Discord embed shows it beside its neighbours
};

struct TNotice {
  std::string Event;        // "ban", "lift" or "health"
  std::string Summary;      // one line: a Discord message's content
  std::string Title;        // a Discord embed's title
  std::string Description;  // a Discord embed's description; may be empty
  uint32_t Colour = 0;      // a Discord embed's colour, 0xRRGGBB
  int64_t AtUnixSeconds = 0;
  std::vector<TNoticeField> Fields;
};
