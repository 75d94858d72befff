#include "support/pg_cluster.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "support/test_env.h"

namespace testenv {

namespace fs = std::filesystem;

TPgCluster::TPgCluster() {
  if (::geteuid() != 0) {
    unavailable_ = "the tests must run as root to start PostgreSQL as the user postgres";
    return;
  }
  std::error_code ignored;
  for (const auto& version : fs::directory_iterator("/usr/lib/postgresql", ignored)) {
    if (fs::exists(version.path() / "bin" / "initdb")) bin_ = (version.path() / "bin").string() + "/";
  }
  if (bin_.empty()) {
    unavailable_ = "PostgreSQL is not installed (Debian package postgresql)";
    return;
  }
  char pattern[] = "/tmp/acserver-pg-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
  port_ = PickRconPort() + 1000;  // free for TCP on loopback
  if (!Run("chown postgres " + dir_) ||
      !Run("runuser -u postgres -- " + bin_ + "initdb -D " + dir_ + "/data -A trust -U postgres >" + dir_ +
           "/initdb.log 2>&1") ||
      !Start() || !Run(bin_ + "createdb -h 127.0.0.1 -p " + std::to_string(port_) + " -U postgres acserver")) {
    unavailable_ = "the test cluster could not be started (see " + dir_ + ")";
  }
}

TPgCluster::~TPgCluster() {
  if (dir_.empty()) return;
  Stop();
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

std::string TPgCluster::Uri() const {
  return "postgresql://postgres@127.0.0.1:" + std::to_string(port_) + "/acserver";
}

bool TPgCluster::Start() {
  if (Run("runuser -u postgres -- " + bin_ + "pg_ctl -D " + dir_ + "/data status >/dev/null 2>&1")) return true;
  return Run("runuser -u postgres -- " + bin_ + "pg_ctl -D " + dir_ + "/data -l " + dir_ + "/server.log -w -o \"-p " +
             std::to_string(port_) + " -k " + dir_ + " -c listen_addresses=127.0.0.1\" start >/dev/null");
}

bool TPgCluster::Stop() {
  return Run("runuser -u postgres -- " + bin_ + "pg_ctl -D " + dir_ + "/data -m fast -w stop >/dev/null 2>&1");
}

bool TPgCluster::Run(const std::string& command) { return std::system(command.c_str()) == 0; }

}  // namespace testenv
