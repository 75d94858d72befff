// Where the accounts and their audit trail are kept: beside the ban records
// (acserver.db, or the shared base so that one account works on every server
// of a community). Every call answers failure as false (or nullopt) with the
// reason in *error. Thread safe.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "accounts/account.h"

class TAccountStore {
 public:
  virtual ~TAccountStore() = default;
  // Every account, by name.
  virtual bool List(std::vector<TAccount>& accounts, std::string* error) = 0;
  // The account of that name; nullopt with error empty when there is none.
  virtual std::optional<TAccount> Find(const std::string& name, std::string* error) = 0;
  // Adds a new account; false (with the reason) when the name is taken.
  virtual bool Add(const TAccount& account, std::string* error) = 0;
  // Writes the role, hash and disabled mark of an existing account (by
  // name); false when there is none.
  virtual bool Update(const TAccount& account, std::string* error) = 0;
  // Appends one line to the audit trail (At 0: now).
  virtual bool Audit(const TAuditEntry& entry, std::string* error) = 0;
  // One page (from 1) of the trail, newest first; text, when not empty,
  // matches any part of the account, address, action, target or detail
  // (case ignored for ASCII).
  virtual bool SearchAudit(const std::string& text, int page, TAuditPage& out, std::string* error) = 0;
};
