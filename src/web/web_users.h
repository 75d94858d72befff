// Who is logged in to the web console, and as what. The accounts live in the
// account store (beside the ban records); until the first account exists,
// "web_password" is the one owner, user "admin". With neither, the console
// is open to everyone as that owner (it then listens on loopback only).
//
// A password is checked with argon2id, a tenth of a second of work, done on
// the calling request's thread and under no lock. Every request reads the
// accounts from a copy kept here, read again from the store at most every
// kAccountsFresh: an account disabled or demoted elsewhere (acserver-bans, a
// console of another server of a shared base) loses its rights within that
// time, and at once when the change is made here (Changed). While the store
// cannot be read, the accounts last read stand: a broken acserver.db neither
// locks the accounts out nor opens the console.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "accounts/account.h"
#include "accounts/account_store.h"
#include "platform/mutex.h"

struct TWebUser {
  std::string Name;
  AccountRole Role = AccountRole::Viewer;
};

inline constexpr auto kAccountsFresh = std::chrono::seconds(5);

class TWebUsers {
 public:
  using Clock = std::chrono::steady_clock;
  // store may be null (no account store: web_password alone); it must
  // outlive this object.
  TWebUsers(TAccountStore* store, std::string password) : store_(store), password_(std::move(password)) {}

  // The user these credentials log in, or nullopt. Thread safe; slow (the
  // hash), holds no lock while it works.
  std::optional<TWebUser> Login(const std::string& name, const std::string& password);
  // The user a session opened for stands now: its role as the accounts say
  // now; nullopt when the account is gone or disabled (or, for the password's
  // "admin", once accounts exist). Thread safe.
  std::optional<TWebUser> Current(const TWebUser& user);
  // Whether the console needs no login at all: no password and no account.
  bool Open();
  // How many accounts there are (0 when they cannot be read).
  size_t Count();
  // Whether web_password logs in now: no account exists.
  bool PasswordLogin();
  // The accounts changed here: the next request reads them again.
  void Changed();
  TAccountStore* Store() const { return store_; }

 private:
  struct TCopy {
    bool Read = false;  // whether the last read of the store answered
    std::vector<TAccount> Accounts;
  };
  // The accounts, read again when older than kAccountsFresh. The read runs
  // outside lock_; concurrent readers may read twice, never wait on a read.
  TCopy Accounts();

  TAccountStore* const store_;
  const std::string password_;
  TMutex lock_;  // guards copy_ and readAt_
  TCopy copy_ GUARDED_BY(lock_);
  std::optional<Clock::time_point> readAt_ GUARDED_BY(lock_);
};
