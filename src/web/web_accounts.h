// The web console's accounts and audit trail: who is logged in (/api/me), the
// accounts (/api/accounts; changed by an owner), and the trail of what every
// account did (/api/audit).
#pragma once

#include <string>

#include "accounts/account_store.h"
#include "accounts/audit_writer.h"
#include "web/web_users.h"

struct THttpRequest;
struct THttpResponse;

// Queues one line of the audit trail of user's action from the web console;
// never waits for the store. audit may be null (no trail).
void AuditWeb(TAuditWriter* audit, const TWebUser& user, const std::string& peer, const std::string& action,
              const std::string& target, const std::string& detail);

void ServeMe(TWebUsers& users, const TWebUser& user, THttpResponse& response);
void ServeAccountList(TWebUsers& users, THttpResponse& response);
// POST /api/accounts (add: name, role, password), /api/accounts/role (name,
// role), /api/accounts/password (name, password), /api/accounts/disable
// (name, disabled 1 or 0). user must be an owner (the caller checks).
void ServeAccountChange(TWebUsers& users, TAuditWriter* audit, const std::string& path, const THttpRequest& request,
                        const TWebUser& user, const std::string& peer, THttpResponse& response);
void ServeAudit(TAccountStore* store, const THttpRequest& request, THttpResponse& response);
