#include "web/web_users.h"

#include <algorithm>

#include "accounts/password_hash.h"
#include "log/logs.h"
#include "web/web_access.h"

namespace {

// The password's owner, who stands for the console before any account.
constexpr const char* kPasswordUser = "admin";

const TAccount* Named(const std::vector<TAccount>& accounts, const std::string& name) {
  const auto found =
      std::find_if(accounts.begin(), accounts.end(), [&name](const TAccount& account) { return account.Name == name; });
  return found == accounts.end() ? nullptr : &*found;
}

}  // namespace

TWebUsers::TCopy TWebUsers::Accounts() {
  {
    TMutexLock guard(lock_);
    if (readAt_ && Clock::now() - *readAt_ < kAccountsFresh) return copy_;
  }
  std::vector<TAccount> accounts;
  std::string error;
  const bool read = store_ == nullptr || store_->List(accounts, &error);
  TMutexLock guard(lock_);
  if (read) {
    copy_.Accounts = std::move(accounts);
  } else if (copy_.Read) {
    // Said once as the store stops answering; the accounts last read stand.
    WriteLog("Web console: the accounts cannot be read (" + error + "); the accounts last read stand");
  }
  copy_.Read = read;
  readAt_ = Clock::now();
  return copy_;
}

std::optional<TWebUser> TWebUsers::Login(const std::string& name, const std::string& password) {
  const TCopy copy = Accounts();
  if (!copy.Accounts.empty()) {
    const TAccount* account = Named(copy.Accounts, name);
    if (account == nullptr || account->Disabled || !PasswordMatches(account->PasswordHash, password)) {
      return std::nullopt;
    }
    return TWebUser{account->Name, account->Role};
  }
  if (password_.empty() || name != kPasswordUser || !ConstantTimeEquals(password, password_)) return std::nullopt;
  return TWebUser{kPasswordUser, AccountRole::Owner};
}

std::optional<TWebUser> TWebUsers::Current(const TWebUser& user) {
  const TCopy copy = Accounts();
  if (copy.Accounts.empty()) {
    if (user.Name == kPasswordUser && !password_.empty()) return user;
    return std::nullopt;
  }
  const TAccount* account = Named(copy.Accounts, user.Name);
  if (account == nullptr || account->Disabled) return std::nullopt;
  return TWebUser{account->Name, account->Role};
}

bool TWebUsers::Open() { return password_.empty() && Accounts().Accounts.empty(); }

size_t TWebUsers::Count() { return Accounts().Accounts.size(); }

bool TWebUsers::PasswordLogin() { return !password_.empty() && Accounts().Accounts.empty(); }

void TWebUsers::Changed() {
  TMutexLock guard(lock_);
  readAt_.reset();
}
