#include "notify/notice_text.h"

#include <algorithm>
#include <cctype>

#include "base/json_text.h"
#include "platform/clock_text.h"

namespace {

// A text of the program's as a JSON string of at most maxChars characters.
std::string Bounded(const std::string& text, size_t maxChars) { return JsonString(CutText(Utf8Text(text), maxChars)); }

std::string DiscordBody(const TNotice& notice) {
  std::string fields;
  size_t count = 0;
  for (const TNoticeField& field : notice.Fields) {
    if (field.Label.empty() || field.Text.empty() || count == kDiscordFields) continue;
    fields += std::string(count++ == 0 ? "" : ",") + "{\"name\":" + Bounded(field.Label, kDiscordFieldNameChars) +
              ",\"value\":" + Bounded(field.Text, kDiscordFieldValueChars) +
              ",\"inline\":" + (field.Inline ? "true" : "false") + "}";
  }
  std::string embed = "{\"title\":" + Bounded(notice.Title, kDiscordTitleChars);
  if (!notice.Description.empty()) {
    embed += ",\"description\":" + Bounded(notice.Description, kDiscordDescriptionChars);
  }
  embed += ",\"color\":" + std::to_string(notice.Colour & 0xFFFFFF) + ",\"fields\":[" + fields +
           "],\"timestamp\":\"" + platform::IsoUtcText(notice.AtUnixSeconds) + "\"}";
  // A player's name such as "@everyone" must never ping the channel.
  return "{\"content\":" + Bounded(notice.Summary, kDiscordContentChars) +
         ",\"allowed_mentions\":{\"parse\":[]},\"embeds\":[" + embed + "]}";
}

std::string PlainBody(const TNotice& notice) {
  std::string out = "{\"event\":" + JsonString(notice.Event) + ",\"time\":\"" +
                    platform::IsoUtcText(notice.AtUnixSeconds) + "\",\"at\":" + std::to_string(notice.AtUnixSeconds) +
                    ",\"summary\":" + JsonString(notice.Summary);
  for (const TNoticeField& field : notice.Fields) {
    if (field.Key.empty()) continue;
    out += "," + JsonString(field.Key) + ":" +
           (field.Number ? std::to_string(*field.Number) : JsonString(field.Text));
  }
  return out + "}";
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

// The first n characters of valid UTF-8 text (or its first n bytes otherwise).
std::string FirstChars(const std::string& text, size_t n) {
  size_t end = 0;
  for (size_t chars = 0; end < text.size() && chars < n; ++chars) {
    ++end;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
  }
  return text.substr(0, end);
}

}  // namespace

std::string NoticeBody(const TNotice& notice, NotifyFormat format) {
  return format == NotifyFormat::Json ? PlainBody(notice) : DiscordBody(notice);
}

std::string CutText(const std::string& text, size_t maxChars) {
  static const std::string kEllipsis = "\xE2\x80\xA6";  // "…", one character
  // Where the text would end to leave room for the ellipsis, and its length.
  size_t room = 0;
  size_t chars = 0;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    const size_t weight = length == 4 ? 2 : 1;
    if (chars + weight > maxChars) return maxChars == 0 ? std::string() : text.substr(0, room) + kEllipsis;
    chars += weight;
    i += length;
    if (chars + 1 <= maxChars) room = i;
  }
  return text;
}

bool IsNotifyUrl(const std::string& url) {
  size_t rest = 0;
  if (StartsWithNoCase(url, "https://")) {
    rest = 8;
  } else if (StartsWithNoCase(url, "http://")) {
    rest = 7;
  } else {
    return false;
  }
  for (const char c : url) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) return false;
  }
  const std::string authority = url.substr(rest, url.find_first_of("/?#", rest) - rest);
  const size_t at = authority.rfind('@');
  const std::string host = at == std::string::npos ? authority : authority.substr(at + 1);
  return !host.empty() && host[0] != ':';
}

std::string MaskedUrl(const std::string& url) {
  const size_t scheme = url.find("://");
  if (scheme == std::string::npos || scheme == 0) return FirstChars(url, 4) + "...";
  const size_t start = scheme + 3;
  const size_t pathStart = std::min(url.find_first_of("/?#", start), url.size());
  std::string host = url.substr(start, pathStart - start);
  if (const size_t at = host.rfind('@'); at != std::string::npos) host = host.substr(at + 1);
  std::string shown = url.substr(0, start) + host + "/";
  const size_t pathEnd = std::min(url.find_first_of("?#", pathStart), url.size());
  std::string path = url.substr(pathStart, pathEnd - pathStart);
  while (!path.empty() && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  const std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
  if (last.empty()) return shown;
  return shown + ".../" + FirstChars(last, 4) + "...";
}
