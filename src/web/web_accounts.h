// The web console's accounts and audit trail: who is logged in (/api/me), the
// accounts (/api/accounts; changed by an owner), and the trail of what every
// account did (/api/audit).
#pragma once

#include <string>

#include "accounts/account_store.h"
#include "web/web_users.h"

struct THttpRequest;
struct THttpResponse;

// Writes one line of the audit trail of user's action from the web console;
// a line that cannot be written is logged. store may be null (no trail).
void AuditWeb(TAccountStore* store, const TWebUser& user, const std::string& peer, const std::string& action,
              const std::string& target, const std::string& detail);

void ServeMe(TWebUsers& users, const TWebUser& user, THttpResponse& response);
void ServeAccountList(TWebUsers& users, THttpResponse& response);
// POST /api/accounts (add: name, role, password), /api/accounts/role (name,
// role), /api/accounts/password (name, password), /api/accounts/disable
// (name, disabled 1 or 0). user must be an owner (the caller checks).
void ServeAccountChange(TWebUsers& users, const std::string& path, const THttpRequest& request,
                        const TWebUser& user, const std::string& peer, THttpResponse& response);
void ServeAudit(TAccountStore* store, const THttpRequest& request, THttpResponse& response);
