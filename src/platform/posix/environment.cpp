#include "platform/environment.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace platform {

std::optional<std::string> EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

namespace {

std::string UserNameOf(uid_t uid) {
  const long hint = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_name != nullptr && found->pw_name[0] != '\0') {
    return found->pw_name;
  }
  return "uid " + std::to_string(uid);
}

}  // namespace

std::string RealUserName() {
  const std::string real = UserNameOf(::getuid());
  // Through runuser or sudo the real user is the service user; the login
  // user (kept by the kernel across both) says which admin it was.
  std::ifstream file("/proc/self/loginuid");
  unsigned long login = 0;
  if (!(file >> login) || login == static_cast<uint32_t>(-1) || login == ::getuid()) return real;
  return real + " (login " + UserNameOf(static_cast<uid_t>(login)) + ")";
}

}  // namespace platform
