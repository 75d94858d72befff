// The texts of notifications: the JSON body posted for a notice, and how a
// notification URL is shown to the admin.
#pragma once

#include <cstddef>
#include <string>

#include "base/settings.h"
#include "notify/notice.h"

// Discord's bounds, in characters: a message's content, an embed's title and
// description, a field's name and value, the fields of one embed.
inline constexpr size_t kDiscordContentChars = 2000;
inline constexpr size_t kDiscordTitleChars = 256;
inline constexpr size_t kDiscordDescriptionChars = 4096;
inline constexpr size_t kDiscordFieldNameChars = 256;
inline constexpr size_t kDiscordFieldValueChars = 1024;
inline constexpr size_t kDiscordFields = 25;

// The body posted for a notice, valid UTF-8 JSON whatever bytes its texts hold:
//   Discord: {"content", "allowed_mentions": {"parse": []}, "embeds": [{"title",
//            "description", "color", "fields": [{"name", "value", "inline"}],
//            "timestamp"}]}, every text within Discord's bounds (a text cut
//            short ends in "…"); no name in it can mention anyone;
//   Json:    {"event", "time" (ISO 8601, UTC), "at" (Unix seconds), "summary",
//            and each field by its key}.
std::string NoticeBody(const TNotice& notice, NotifyFormat format);

// At most maxChars characters of text (valid UTF-8), counted as Discord counts
// them (a character beyond U+FFFF counts twice); a text cut short ends in "…".
std::string CutText(const std::string& text, size_t maxChars);

// Whether a notification can be posted to url: http:// or https:// (any case)
// and a host.
bool IsNotifyUrl(const std::string& url);
// How a notification URL appears in every line and listing, since its path
// often holds the secret (a Discord webhook's token): the scheme and the host
// (with its port), then, when the path has more than "/", ".../" and the first
// 4 characters of its last segment followed by "...". A user and password
// before the host, the query and the fragment are never shown:
// "https://discord.com/api/webhooks/1234/AbCdEf" shows as
// "https://discord.com/.../AbCd...". Text that is no URL shows as its first 4
// characters and "...".
std::string MaskedUrl(const std::string& url);
