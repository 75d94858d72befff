#include "accounts/account.h"

#include <cctype>

namespace {

constexpr const char* kRoleNames[] = {"viewer", "admin", "owner"};

}  // namespace

const char* RoleName(AccountRole role) { return kRoleNames[static_cast<int>(role)]; }

std::optional<AccountRole> ParseRole(const std::string& name) {
  for (int i = 0; i < 3; ++i) {
    if (name == kRoleNames[i]) return static_cast<AccountRole>(i);
  }
  return std::nullopt;
}

std::string AccountNameProblem(const std::string& name) {
  if (name.empty()) return "is empty";
  if (name.size() > kAccountNameBytes) return "is longer than " + std::to_string(kAccountNameBytes) + " bytes";
  for (const char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-') {
      return "may hold only letters, digits, '.', '_' and '-'";
    }
  }
  return std::string();
}

std::string PasswordProblem(const std::string& password) {
  if (password.size() < kPasswordMinBytes) {
    return "is shorter than " + std::to_string(kPasswordMinBytes) + " bytes";
  }
  if (password.size() > kPasswordBytes) return "is longer than " + std::to_string(kPasswordBytes) + " bytes";
  return std::string();
}
