// The public ban list ("web_public"): a page at /bans and its JSON under
// /api/public/, open to anyone without a login, so that a banned player can
// read his ban and appeal against it. Off unless "web_public" is 1; every
// path here answers 404 then.
//
// What it shows of a ban: its record's id, the player's name and identifier
// (both public in the game anyway, and what a player searches for), the
// reason, when it was made and ends, how it ended, the server, and the
// answer to the ban's newest appeal. Never an address (the player's, the
// reporter's, the admin's): the search does not match addresses either, the
// screenshots (only with "web_public_evidence" 1) are served by the ban's id
// and their number, never by their paths, which hold the address; nor who
// banned or lifted, nor an appeal's text or contact.
//
// An appeal is a POST without a login, so it is bounded before it is stored:
// one open appeal per ban, kAppealsPerAddressPerHour from one address, at most
// kMaxOpenAppeals open in all, its fields of kAppealTextChars and
// kAppealContactChars, the body of kWebMaxRequestBytes. A page of another
// site cannot post one: the console's Origin check applies, and the POST
// must carry the header X-Appeal-Form, which a page of another site cannot
// send without a CORS preflight that this server never grants.
#pragma once

#include <string>

#include "bans/appeal.h"
#include "bans/ban_store.h"
#include "base/settings.h"

struct THttpRequest;
struct THttpResponse;

struct TPublicSources {
  const SettingsRecord& Settings;
  TBanStoreInUse& Bans;
  TAppealStore* Appeals = nullptr;  // null: no appeals are taken
};

// Whether a path is one of the public list's: "/bans" or under "/api/public/".
bool IsPublicPath(const std::string& path);
// Answers a request for a public path; peer is the client's address (the
// appeals' throttle). Thread safe.
void ServePublic(const TPublicSources& sources, const THttpRequest& request, const std::string& peer,
                 THttpResponse& response);

// The page, as embedded at build time from public.html.
extern const char* const kPublicPage;
