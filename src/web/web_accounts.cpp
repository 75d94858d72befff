#include "web/web_accounts.h"

#include <algorithm>

#include "accounts/password_hash.h"
#include "base/numbers.h"
#include "log/logs.h"
#include "web/http_server.h"
#include "web/web_fields.h"
#include "web/web_json.h"

namespace {

constexpr const char* kJson = "application/json; charset=utf-8";

std::string AccountJson(const TAccount& account) {
  return "{\"name\":" + JsonString(account.Name) + ",\"role\":" + JsonString(RoleName(account.Role)) +
         ",\"disabled\":" + (account.Disabled ? "true" : "false") +
         ",\"created_at\":" + std::to_string(account.CreatedAt) + ",\"changed_at\":" +
         std::to_string(account.ChangedAt) + "}";
}

// Whether an enabled owner other than name is left.
bool AnotherOwner(const std::vector<TAccount>& accounts, const std::string& name) {
  return std::any_of(accounts.begin(), accounts.end(), [&name](const TAccount& account) {
    return account.Name != name && account.Role == AccountRole::Owner && !account.Disabled;
  });
}

}  // namespace

void AuditWeb(TAuditWriter* audit, const TWebUser& user, const std::string& peer, const std::string& action,
              const std::string& target, const std::string& detail) {
  if (audit != nullptr) audit->Post({0, 0, user.Name, "web " + peer, action, target, detail});
}

void ServeMe(TWebUsers& users, const TWebUser& user, THttpResponse& response) {
  response.Set(200,
               "{\"name\":" + JsonString(user.Name) + ",\"role\":" + JsonString(RoleName(user.Role)) +
                   ",\"password_login\":" + (users.PasswordLogin() ? "true" : "false") + "}",
               kJson);
}

void ServeAccountList(TWebUsers& users, THttpResponse& response) {
  if (users.Store() == nullptr) return SetJsonError(response, 503, "this ban base keeps no accounts");
  std::vector<TAccount> accounts;
  std::string error;
  if (!users.Store()->List(accounts, &error)) return SetJsonError(response, 503, error);
  std::string items;
  for (const TAccount& account : accounts) items += (items.empty() ? "" : ",") + AccountJson(account);
  response.Set(200,
               "{\"accounts\":[" + items + "],\"password_login\":" + (users.PasswordLogin() ? "true" : "false") + "}",
               kJson);
}

void ServeAccountChange(TWebUsers& users, TAuditWriter* audit, const std::string& path, const THttpRequest& request,
                        const TWebUser& user, const std::string& peer, THttpResponse& response) {
  TAccountStore* store = users.Store();
  if (store == nullptr) return SetJsonError(response, 503, "this ban base keeps no accounts");
  const std::string name = request.Param("name");
  if (const std::string problem = AccountNameProblem(name); !problem.empty()) {
    return SetJsonError(response, 400, "the name " + problem);
  }
  std::vector<TAccount> accounts;
  std::string error;
  if (!store->List(accounts, &error)) return SetJsonError(response, 503, error);
  const auto found = std::find_if(accounts.begin(), accounts.end(),
                                  [&name](const TAccount& account) { return account.Name == name; });
  std::string action, detail;
  TAccount account;
  if (path == "/api/accounts") {
    const std::optional<AccountRole> role = ParseRole(request.Param("role"));
    if (!role) return SetJsonError(response, 400, "role must be viewer, admin or owner");
    // The first account takes over from web_password: without an owner
    // nobody could manage the accounts from the console any more.
    if (accounts.empty() && *role != AccountRole::Owner) {
      return SetJsonError(response, 400, "the first account must be an owner");
    }
    const std::string password = request.Param("password");
    if (const std::string problem = PasswordProblem(password); !problem.empty()) {
      return SetJsonError(response, 400, "the password " + problem);
    }
    if (found != accounts.end()) return SetJsonError(response, 409, "an account named " + name + " exists already");
    const std::optional<std::string> hash = HashPassword(password);
    if (!hash) return SetJsonError(response, 500, "the password could not be hashed");
    account = {name, *role, *hash, false, 0, 0};
    if (!store->Add(account, &error)) return SetJsonError(response, 409, error);
    action = "account add";
    detail = RoleName(*role);
  } else {
    if (found == accounts.end()) return SetJsonError(response, 404, "there is no account named " + name);
    account = *found;
    if (path == "/api/accounts/role") {
      const std::optional<AccountRole> role = ParseRole(request.Param("role"));
      if (!role) return SetJsonError(response, 400, "role must be viewer, admin or owner");
      account.Role = *role;
      action = "account role";
      detail = RoleName(*role);
    } else if (path == "/api/accounts/password") {
      const std::string password = request.Param("password");
      if (const std::string problem = PasswordProblem(password); !problem.empty()) {
        return SetJsonError(response, 400, "the password " + problem);
      }
      const std::optional<std::string> hash = HashPassword(password);
      if (!hash) return SetJsonError(response, 500, "the password could not be hashed");
      account.PasswordHash = *hash;
      action = "account password";
    } else if (path == "/api/accounts/disable") {
      const std::string disabled = request.Param("disabled");
      if (disabled != "1" && disabled != "0") return SetJsonError(response, 400, "disabled must be 1 or 0");
      account.Disabled = disabled == "1";
      action = account.Disabled ? "account disable" : "account enable";
    } else {
      return SetJsonError(response, 404, "no such account change");
    }
    const bool stillOwner = account.Role == AccountRole::Owner && !account.Disabled;
    if (found->Role == AccountRole::Owner && !found->Disabled && !stillOwner && !AnotherOwner(accounts, name)) {
      return SetJsonError(response, 409, "the last owner cannot be demoted or disabled");
    }
    if (!store->Update(account, &error)) return SetJsonError(response, 503, error);
  }
  users.Changed();
  AuditWeb(audit, user, peer, action, name, detail);
  WriteEvent("Web console: " + action + " " + name + (detail.empty() ? "" : " (" + detail + ")") + " by " +
             user.Name + " (" + peer + ")");
  response.Set(200, "{\"account\":" + AccountJson(account) + "}", kJson);
}

void ServeAudit(TAccountStore* store, const THttpRequest& request, THttpResponse& response) {
  if (store == nullptr) return SetJsonError(response, 503, "this ban base keeps no audit trail");
  const std::optional<int64_t> page = IntegerField(request, "page", 1, 1000000, 1);
  if (!page) return SetJsonError(response, 400, "page must be 1 or more");
  TAuditPage found;
  std::string error;
  if (!store->SearchAudit(request.Param("q"), static_cast<int>(*page), found, &error)) {
    return SetJsonError(response, 503, error);
  }
  std::string items;
  for (const TAuditEntry& entry : found.Entries) {
    items += std::string(items.empty() ? "" : ",") + "{\"id\":" + std::to_string(entry.Id) +
             ",\"at\":" + std::to_string(entry.At) + ",\"account\":" + JsonString(entry.Account) +
             ",\"address\":" + JsonString(entry.Address) + ",\"action\":" + JsonString(entry.Action) +
             ",\"target\":" + JsonString(entry.Target) + ",\"detail\":" + JsonString(entry.Detail) + "}";
  }
  response.Set(200,
               "{\"total\":" + std::to_string(found.Total) + ",\"page\":" + std::to_string(*page) +
                   ",\"per_page\":" + std::to_string(kAuditPerPage) + ",\"entries\":[" + items + "]}",
               kJson);
}
