// The web console's accounts: who may look and who may change what, and the
// audit trail of what each account did. An account has a name, a role and an
// argon2id hash of its password (never the password); a disabled account
// keeps its name and its trail but cannot log in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// viewer reads everything and changes nothing; admin also bans, lifts and
// answers appeals; owner also manages the accounts.
enum class AccountRole { Viewer, Admin, Owner };

const char* RoleName(AccountRole role);
std::optional<AccountRole> ParseRole(const std::string& name);
// Whether role may do what needs at least the role needed.
inline bool RoleAllows(AccountRole role, AccountRole needed) {
  return static_cast<int>(role) >= static_cast<int>(needed);
}

struct TAccount {
  std::string Name;
  AccountRole Role = AccountRole::Viewer;
  std::string PasswordHash;  // crypto_pwhash_str's text
  bool Disabled = false;
  int64_t CreatedAt = 0;  // Unix seconds
  int64_t ChangedAt = 0;
};

// Account names: 1 to kAccountNameBytes of letters, digits, '.', '_' and
// '-', so that a name reads the same in a log line, a record and a URL.
inline constexpr size_t kAccountNameBytes = 32;
// Empty when name is a good account name, else what is wrong with it.
std::string AccountNameProblem(const std::string& name);
// Passwords: 8 to kPasswordBytes bytes.
inline constexpr size_t kPasswordMinBytes = 8;
inline constexpr size_t kPasswordBytes = 128;
std::string PasswordProblem(const std::string& password);

// One line of the audit trail: an account (or the command line's user) did
// action to target from address.
struct TAuditEntry {
  int64_t Id = 0;
  int64_t At = 0;            // Unix seconds
  std::string Account;       // who
  std::string Address;       // from where: "web 1.2.3.4", "command line"
  std::string Action;        // "ban", "lift", "account add", ...
  std::string Target;        // an identifier, an account name
  std::string Detail;        // a reason, a role
};

struct TAuditPage {
  int64_t Total = 0;
  std::vector<TAuditEntry> Entries;  // newest first
};

inline constexpr int kAuditPerPage = 50;
