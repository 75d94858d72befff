// The web console's ban records: the search, one record with its history, a
// ban by hand and a lift with its reason. Each answers one request from
// copies; a ban by hand holds BusyFlag only while the tables take it.
#pragma once

#include <functional>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "accounts/audit_writer.h"
#include "supervision/ban_enforcement.h"
#include "bans/ban_store.h"
#include "registry/tables.h"
#include "web/web_fields.h"
#include "web/web_json.h"
#include "web/web_users.h"

struct THttpRequest;
struct THttpResponse;

// What the ban base enforces for the records in force among records, read
// once; nullopt when it cannot be read, and the records then show their
// planned ends alone.
std::optional<TEnforcedBans> EnforcedOf(TBanStore& bans, const std::vector<const TBanRecord*>& records);

// GET /api/bans?q=&filter=&page=&per_page=
void ServeBanSearch(TBanStore& bans, const THttpRequest& request, THttpResponse& response);
// GET /api/bans/<id>?page=: the record and one page of the identifier's others.
void ServeBanDetails(TBanStore& bans, const std::string& id, const THttpRequest& request, THttpResponse& response);
// POST /api/bans: identifier, name, minutes (empty or 0: for ever), reason;
// made by user from peer, and written to the audit trail (audit may be null).
void ServeBanByHand(TTables& tables, TBanEnforcement& enforcement, TAuditWriter* audit, const THttpRequest& request,
                    const TWebUser& user, const std::string& peer, THttpResponse& response);
// Told of a lift that ended a ban: the identifier, who, from where and why,
// and how many bans it ended.
using TLiftListener = std::function<void(const std::string& identifier, const TBanLift& lift, int removed)>;
// POST /api/bans/lift: identifier, reason; the same. A lift that ended a ban
// is told to onLift when it is set.
void ServeBanLift(TBanStore& bans, TAuditWriter* audit, const THttpRequest& request, const TWebUser& user,
                  const std::string& peer, THttpResponse& response, const TLiftListener& onLift = {});
