// The web console's Appeals tab: the appeals players filed on the public ban
// list (/api/appeals; any role reads them, the player's contact and address
// included) and their answers (/api/appeals/answer; an admin or an owner):
// lift the ban, through the same store and listener as the Bans tab's Lift,
// or reject the appeal with a reason. The answer shows on the public list.
#pragma once

#include <string>

#include "accounts/audit_writer.h"
#include "bans/appeal.h"
#include "bans/ban_store.h"
#include "web/web_bans.h"
#include "web/web_users.h"

struct THttpRequest;
struct THttpResponse;

// GET /api/appeals?state=open|answered|all&page=
void ServeAppealList(TAppealStore* appeals, const THttpRequest& request, THttpResponse& response);
// POST /api/appeals/answer: id, decision (lift or reject), answer (the
// reason: up to 64 bytes, needed to reject). The caller checks the token and
// the role. A lift that ended a ban is told to onLift when it is set.
void ServeAppealAnswer(TAppealStore* appeals, TBanStore& bans, TAuditWriter* audit, const THttpRequest& request,
                       const TWebUser& user, const std::string& peer, THttpResponse& response,
                       const TLiftListener& onLift = {});
