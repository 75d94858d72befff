#include "web/web_json.h"

#include <algorithm>
#include <cstdio>

#include "base/numbers.h"

namespace {

const char* ProtectionName(Protection by) {
  switch (by) {
    case Protection::Client:
      return "client";
    case Protection::AllowList:
      return "allow-list";
    case Protection::Grace:
      return "startup-grace";
    case Protection::None:
      break;
  }
  return "none";
}

const char* KindName(PlayerKind kind) {
  switch (kind) {
    case PlayerKind::Bot:
      return "bot";
    case PlayerKind::Proxy:
      return "proxy";
    case PlayerKind::Connecting:
      return "connecting";
    case PlayerKind::Player:
      break;
  }
  return "player";
}

// The characters of cp1251's bytes 0x80 to 0xFF (0x98 has none: U+FFFD).
constexpr char16_t kCp1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C,
    0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122, 0x0459, 0x203A,
    0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9,
    0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    // 0xC0..0xFF: А..я
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D,
    0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B,
    0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439,
    0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

void AppendUtf8(std::string& out, char16_t character) {
  if (character < 0x800) {
    out += static_cast<char>(0xC0 | (character >> 6));
  } else {
    out += static_cast<char>(0xE0 | (character >> 12));
    out += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
  }
  out += static_cast<char>(0x80 | (character & 0x3F));
}

// The length of the well-formed UTF-8 sequence at text[at] (a lead byte of
// 0x80 or more), or 0 when it is none: no overlong forms, no surrogates,
// nothing past U+10FFFF.
size_t Utf8SequenceLength(const std::string& text, size_t at) {
  const auto byte = [&text](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0; };
  const unsigned char lead = byte(at);
  const auto continuation = [](unsigned char b) { return (b & 0xC0) == 0x80; };
  if (lead >= 0xC2 && lead <= 0xDF) return continuation(byte(at + 1)) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    const unsigned char second = byte(at + 1);
    const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
    return second >= low && second <= high && continuation(byte(at + 2)) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    const unsigned char second = byte(at + 1);
    const unsigned char low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
    return second >= low && second <= high && continuation(byte(at + 2)) && continuation(byte(at + 3)) ? 4 : 0;
  }
  return 0;
}

// Joins the items as a JSON array.
std::string Array(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + items[i];
  return out + "]";
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  out.reserve(text.size() + 2);
  const size_t size = text.size();
  for (size_t i = 0; i < size;) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      if (byte == '"' || byte == '\\') {
        out += '\\';
        out += static_cast<char>(byte);
      } else if (byte < 0x20 || byte == 0x7F) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
        out += escaped;
      } else {
        out += static_cast<char>(byte);
      }
      ++i;
      continue;
    }
    const size_t length = Utf8SequenceLength(text, i);
    if (length > 0) {
      out.append(text, i, length);
      i += length;
    } else {
      AppendUtf8(out, kCp1251High[byte - 0x80]);
      ++i;
    }
  }
  return out + "\"";
}

std::string StatusJson(const TStatusFacts& facts, const TSupervisionReport& report) {
  std::vector<std::string> kicks;
  for (const TReportedKick& kick : report.Kicks) {
    kicks.push_back("{\"name\":" + JsonString(kick.Name) + ",\"address\":" + JsonString(kick.Address) +
                    ",\"reason\":" + JsonString(kick.Reason) + "}");
  }
  size_t players = 0;
  size_t humans = 0;  // every player but bots and spectator proxies, those still connecting too
  size_t protectedPlayers = 0;
  for (const TReportedPlayer& player : report.Players) {
    players += player.Kind == PlayerKind::Player ? 1 : 0;
    humans += player.Kind == PlayerKind::Player || player.Kind == PlayerKind::Connecting ? 1 : 0;
    protectedPlayers +=
        player.Kind == PlayerKind::Player && (player.By == Protection::Client || player.By == Protection::AllowList);
  }
  const std::string lastRun =
      report.AtUnixSeconds == 0
          ? std::string("null")
          : "{\"at\":" + std::to_string(report.AtUnixSeconds) +
                ",\"ago_s\":" + std::to_string(facts.NowUnixSeconds - report.AtUnixSeconds) +
                ",\"answered\":" + (report.Answered ? "true" : "false") +
                ",\"result\":" + JsonString(HealthName(report.Health)) +
                ",\"protected\":" + std::to_string(protectedPlayers) + ",\"humans\":" + std::to_string(humans) +
                ",\"kicks\":" + Array(kicks) + "}";
  return "{\"health\":" + JsonString(HealthName(facts.Health)) + ",\"game_server\":" + JsonString(facts.GameServer) +
         ",\"status_mark\":" + JsonString(report.Mark) + ",\"player_list\":" + JsonString(report.List) +
         ",\"last_run\":" + lastRun + ",\"clients\":" + std::to_string(facts.Clients) +
         ",\"players\":" + std::to_string(players) + ",\"bans\":" + std::to_string(facts.Bans) +
         ",\"screens\":" + (facts.ScreensOn ? "true" : "false") +
         ",\"records\":{\"up\":" + (facts.RecordsUp ? "true" : "false") +
         ",\"reason\":" + JsonString(facts.RecordsReason) + "}" +
         ",\"uptime_s\":" + std::to_string(facts.NowUnixSeconds - facts.StartedUnixSeconds) + "}";
}

std::string PlayersJson(const TSupervisionReport& report, const std::map<std::string, std::string>& identifiers,
                        const std::map<std::string, int64_t>& banCounts) {
  std::vector<std::string> players;
  for (const TReportedPlayer& player : report.Players) {
    const auto identifier = identifiers.find(player.Name);
    const auto count = identifier == identifiers.end() ? banCounts.end() : banCounts.find(identifier->second);
    players.push_back("{\"name\":" + JsonString(player.Name) + ",\"address\":" + JsonString(player.Address) +
                      ",\"port\":" + std::to_string(player.Port) + ",\"userid\":" + std::to_string(player.UserId) +
                      ",\"kind\":\"" + KindName(player.Kind) + "\",\"protection\":\"" +
                      (player.Kind == PlayerKind::Player ? ProtectionName(player.By) : "not checked") +
                      "\",\"identifier\":" + JsonString(identifier == identifiers.end() ? "" : identifier->second) +
                      ",\"earlier_bans\":" + (count == banCounts.end() ? "null" : std::to_string(count->second)) + "}");
  }
  return "{\"players\":" + Array(players) + "}";
}

std::string ClientsJson(const std::vector<TClientView>& clients) {
  std::vector<std::string> items;
  for (const TClientView& client : clients) {
    const std::string screen = client.ScreenPending ? "{\"size\":" + std::to_string(client.ScreenSize) +
                                                          ",\"received\":" + std::to_string(client.ScreenReceived) + "}"
                                                    : std::string("null");
    items.push_back("{\"slot\":" + std::to_string(client.Slot) + ",\"name\":" + JsonString(client.Name) +
                    ",\"identifier\":" + JsonString(client.Identifier) + ",\"address\":" + JsonString(client.Address) +
                    ",\"missed_updates\":" + std::to_string(client.MissedUpdates) + ",\"screen\":" + screen + "}");
  }
  return "{\"clients\":" + Array(items) + "}";
}

std::string BanRecordJson(const TBanRecord& record, int64_t nowUnixSeconds, const TEnforcedBans* enforced) {
  const bool inForce = record.End == BanEnd::InForce;
  bool forever = record.EndsAt == 0;
  // Rounded up, as the ban base counts: a ban with 30 s left has 1 minute left.
  int64_t minutesLeft = inForce && !forever ? std::max<int64_t>(0, (record.EndsAt - nowUnixSeconds + 59) / 60) : 0;
  int64_t endsAt = record.EndsAt;
  std::string held = "null";
  if (inForce && enforced != nullptr) {
    const auto found = enforced->find(record.Identifier);
    held = found != enforced->end() ? "true" : "false";
    if (found != enforced->end()) {
      forever = found->second == "p";
      minutesLeft = forever ? 0 : ParseInteger64(found->second).value_or(minutesLeft);
      endsAt = forever ? 0 : nowUnixSeconds + 60 * minutesLeft;
    }
  }
  std::vector<std::string> evidence;
  for (const std::string& path : record.Evidence) evidence.push_back(JsonString(path));
  const std::string end =
      inForce ? std::string("null")
              : "{\"kind\":" + JsonString(BanEndName(record.End)) + ",\"at\":" + std::to_string(record.EndedAt) +
                    ",\"by\":" + JsonString(record.EndedBy) + ",\"from\":" + JsonString(record.EndedFrom) +
                    ",\"reason\":" + JsonString(record.EndReason) + "}";
  return "{\"id\":" + std::to_string(record.Id) + ",\"identifier\":" + JsonString(record.Identifier) +
         ",\"name\":" + JsonString(record.Name) + ",\"address\":" + JsonString(record.Address) +
         ",\"reason\":" + JsonString(record.Reason) + ",\"made_at\":" + std::to_string(record.MadeAt) +
         ",\"ends_at\":" + (forever ? std::string("null") : std::to_string(endsAt)) +
         ",\"planned_ends_at\":" + (record.EndsAt == 0 ? std::string("null") : std::to_string(record.EndsAt)) +
         ",\"forever\":" + (forever ? "true" : "false") + ",\"in_force\":" + (inForce ? "true" : "false") +
         ",\"enforced\":" + held +
         ",\"minutes_left\":" + (inForce && !forever ? std::to_string(minutesLeft) : std::string("null")) +
         ",\"origin\":{\"kind\":" + JsonString(BanOriginName(record.Origin)) + ",\"name\":" +
         JsonString(record.ByName) + ",\"identifier\":" + JsonString(record.ByIdentifier) +
         ",\"address\":" + JsonString(record.ByAddress) + "},\"server\":" + JsonString(record.Server) +
         ",\"evidence\":" + Array(evidence) + ",\"end\":" + end + "}";
}

std::string BanPageJson(const TBanPage& page, const TBanQuery& query, int64_t nowUnixSeconds,
                        const TEnforcedBans* enforced) {
  std::vector<std::string> items;
  for (const TBanRecord& record : page.Records) items.push_back(BanRecordJson(record, nowUnixSeconds, enforced));
  return "{\"total\":" + std::to_string(page.Total) + ",\"page\":" + std::to_string(query.Page) +
         ",\"per_page\":" + std::to_string(query.PerPage) + ",\"bans\":" + Array(items) + "}";
}

std::string BanDetailsJson(const TBanRecord& record, const std::vector<TBanRecord>& history, int64_t nowUnixSeconds) {
  std::vector<std::string> items;
  for (const TBanRecord& other : history) {
    if (other.Id != record.Id) items.push_back(BanRecordJson(other, nowUnixSeconds));
  }
  return "{\"ban\":" + BanRecordJson(record, nowUnixSeconds) + ",\"history\":" + Array(items) + "}";
}

std::string BanDetailsJson(const TBanRecord& record, const TBanPage& history, int page, int perPage,
                           int64_t nowUnixSeconds, const TEnforcedBans* enforced) {
  std::vector<std::string> items;
  for (const TBanRecord& other : history.Records) items.push_back(BanRecordJson(other, nowUnixSeconds, enforced));
  return "{\"ban\":" + BanRecordJson(record, nowUnixSeconds, enforced) + ",\"history\":" + Array(items) +
         ",\"history_total\":" + std::to_string(history.Total) + ",\"history_page\":" + std::to_string(page) +
         ",\"history_per_page\":" + std::to_string(perPage) + "}";
}

std::string ScreensJson(const std::vector<TScreenFile>& screens) {
  std::vector<std::string> items;
  for (const TScreenFile& screen : screens) {
    items.push_back("{\"address\":" + JsonString(screen.Address) + ",\"identifier\":" +
                    JsonString(screen.Identifier) + ",\"file\":" + JsonString(screen.File) +
                    ",\"bytes\":" + std::to_string(screen.Bytes) + ",\"time\":" +
                    std::to_string(screen.ModifiedUnixSeconds) + "}");
  }
  return "{\"screens\":" + Array(items) + "}";
}

std::string LogsJson(const std::vector<std::string>& full, const std::vector<std::string>& light) {
  std::vector<std::string> fullItems, lightItems;
  for (const std::string& line : full) fullItems.push_back(JsonString(line));
  for (const std::string& line : light) lightItems.push_back(JsonString(line));
  return "{\"full\":" + Array(fullItems) + ",\"short\":" + Array(lightItems) + "}";
}
