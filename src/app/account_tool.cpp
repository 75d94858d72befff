#include "app/account_tool.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

#include "accounts/password_hash.h"
#include "app/config_file.h"
#include "bans/ban_base.h"
#include "bans/records/account_base.h"
#include "bans/records/file_records.h"
#include "bans/shared/postgres_accounts.h"
#include "log/logs.h"
#include "platform/clock_text.h"
#include "platform/console.h"
#include "platform/environment.h"

namespace {

int Fail(const std::string& error) {
  std::fprintf(stderr, "acserver-bans: %s\n", error.c_str());
  return 2;
}

// The new password, read twice at a terminal; nullopt (after saying why)
// when it is missing, differs or is no good password.
std::optional<std::string> NewPassword() {
  const std::optional<std::string> password = platform::ReadSecretLine("Password: ");
  if (!password) {
    Fail("no password given (it is read from standard input)");
    return std::nullopt;
  }
  if (const std::string problem = PasswordProblem(*password); !problem.empty()) {
    Fail("the password " + problem);
    return std::nullopt;
  }
  return password;
}

std::optional<std::string> Hashed() {
  const std::optional<std::string> password = NewPassword();
  if (!password) return std::nullopt;
  std::optional<std::string> hash = HashPassword(*password);
  if (!hash) Fail("the password could not be hashed");
  return hash;
}

void Audit(TAccountStore& store, const std::string& action, const std::string& name, const std::string& detail) {
  std::string error;
  const std::string user = platform::RealUserName();
  if (!store.Audit({0, 0, user, "command line", action, name, detail}, &error)) {
    std::fprintf(stderr, "acserver-bans: the audit trail could not be written: %s\n", error.c_str());
  }
  WriteLog("Accounts: " + action + " " + name + (detail.empty() ? "" : " (" + detail + ")") + " by " + user +
           " (command line)");
}

int List(TAccountStore& store, bool json) {
  std::vector<TAccount> accounts;
  std::string error;
  if (!store.List(accounts, &error)) return Fail(error);
  if (json) {
    std::string items;
    for (const TAccount& account : accounts) {
      items += std::string(items.empty() ? "" : ",") + "{\"name\":\"" + account.Name + "\",\"role\":\"" +
               RoleName(account.Role) + "\",\"disabled\":" + (account.Disabled ? "true" : "false") + "}";
    }
    std::printf("{\"accounts\":[%s]}\n", items.c_str());
    return 0;
  }
  if (accounts.empty()) {
    std::printf("No accounts: the web console's user is admin with the password of web_password.\n");
    return 0;
  }
  for (const TAccount& account : accounts) {
    std::printf("%-32s %-6s %s, changed %s\n", account.Name.c_str(), RoleName(account.Role),
                account.Disabled ? "disabled" : "enabled", platform::UtcTimeText(account.ChangedAt).c_str());
  }
  return 0;
}

}  // namespace

int RunAccountTool(const std::vector<std::string>& words, bool json) {
  // Beside the records in use: on the shared base, the accounts of every server of it.
  const std::string banBase = QuietConfigValue("ban_base");
  std::unique_ptr<TAccountStore> kept;
  if (IsSharedBanBase(banBase)) {
    kept = std::make_unique<TPostgresAccounts>(banBase);
  } else {
    kept = std::make_unique<records::TSqliteAccounts>(records::RecordBasePath());
  }
  TAccountStore& store = *kept;
  const std::string command = words.empty() ? std::string() : words[0];
  if (command == "list" && words.size() == 1) return List(store, json);
  const bool withRole = command == "role" || command == "add";
  const size_t needed = command == "role" ? 3 : 2;
  if (words.size() != needed && !(command == "add" && words.size() == 3)) {
    return Fail("usage: account list | add NAME ROLE | role NAME ROLE | passwd NAME | disable NAME | enable NAME");
  }
  const std::string& name = words[1];
  if (const std::string problem = AccountNameProblem(name); !problem.empty()) return Fail("the name " + problem);
  std::optional<AccountRole> role;
  if (withRole) {
    role = words.size() == 3 ? ParseRole(words[2]) : std::nullopt;
    if (!role) return Fail("the role must be viewer, admin or owner");
  }
  std::vector<TAccount> accounts;
  std::string error;
  if (!store.List(accounts, &error)) return Fail(error);
  const auto found =
      std::find_if(accounts.begin(), accounts.end(), [&name](const TAccount& account) { return account.Name == name; });
  if (command == "add") {
    if (found != accounts.end()) return Fail("an account named " + name + " exists already");
    if (accounts.empty() && *role != AccountRole::Owner) {
      return Fail("the first account must be an owner: it takes over from web_password");
    }
    const std::optional<std::string> hash = Hashed();
    if (!hash) return 2;
    if (!store.Add({name, *role, *hash, false, 0, 0}, &error)) return Fail(error);
    Audit(store, "account add", name, RoleName(*role));
    std::printf("Account %s added (%s).\n", name.c_str(), RoleName(*role));
    return 0;
  }
  if (found == accounts.end()) {
    std::fprintf(stderr, "acserver-bans: there is no account named %s\n", name.c_str());
    return 1;
  }
  TAccount account = *found;
  std::string action = "account " + command, detail;
  if (command == "role") {
    account.Role = *role;
    detail = RoleName(*role);
  } else if (command == "passwd") {
    const std::optional<std::string> hash = Hashed();
    if (!hash) return 2;
    account.PasswordHash = *hash;
    action = "account password";
  } else if (command == "disable" || command == "enable") {
    account.Disabled = command == "disable";
  } else {
    return Fail("unknown account command '" + command + "'");
  }
  const bool owner = account.Role == AccountRole::Owner && !account.Disabled;
  const bool another = std::any_of(accounts.begin(), accounts.end(), [&name](const TAccount& other) {
    return other.Name != name && other.Role == AccountRole::Owner && !other.Disabled;
  });
  if (found->Role == AccountRole::Owner && !found->Disabled && !owner && !another) {
    return Fail("the last owner cannot be demoted or disabled");
  }
  if (!store.Update(account, &error)) return Fail(error);
  Audit(store, action, name, detail);
  std::printf("Account %s: %s%s.\n", name.c_str(), action.c_str() + 8, detail.empty() ? "" : (" " + detail).c_str());
  return 0;
}
