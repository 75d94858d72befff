// The systemd unit and its template (one instance per game server) as CMake
// configures them for installing: they run as the user that the sysusers file
// creates and keep their data where the program looks for it, the template one
// directory per instance; a configuration that fails every start stops after a
// few tries; systemd's own tools accept both units and the sysusers line; and
// the sandbox rates 2.5 or lower on systemd's exposure scale (0 = locked down,
// 10 = none).
// The checks with systemd's tools are skipped where they are not installed
// (Debian package systemd).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/test_env.h"

namespace {

struct TUnitFile {
  std::string Path;      // as CMake configured it
  std::string FileName;  // as installed
  std::string Verified;  // the unit name systemd-analyze verify loads: an instance of the template
};
const TUnitFile kUnits[] = {
    {ACSERVER_UNIT, "acserver.service", "acserver.service"},
    {ACSERVER_TEMPLATE_UNIT, "acserver@.service", "acserver@27015.service"},
};

// The value of every "Key=value" line (of one section, "[Unit]" say, when
// given); a key given twice keeps both, joined by a blank.
std::map<std::string, std::string> UnitKeys(const std::string& text, const std::string& onlySection = "") {
  std::map<std::string, std::string> keys;
  std::istringstream lines(text);
  std::string section;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line[0] == '[') section = line;
    const size_t equals = line.find('=');
    if (line.empty() || line[0] == '#' || line[0] == '[' || equals == std::string::npos) continue;
    if (!onlySection.empty() && section != onlySection) continue;
    std::string& value = keys[line.substr(0, equals)];
    value += (value.empty() ? "" : " ") + line.substr(equals + 1);
  }
  return keys;
}

// The full path of a program found in PATH, or "".
std::string InPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::string candidate = dir + "/" + program;
    if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

struct TRun {
  int Status = -1;
  std::string Output;
};

TRun RunTool(const std::string& program, const std::vector<std::string>& args) {
  testenv::TChildProcess child(program, {"SYSTEMD_COLORS=0", "SYSTEMD_PAGER=cat"}, "/", args);
  TRun run;
  run.Status = child.WaitForExit(60000);
  run.Output = child.Output();
  return run;
}

TEST(SystemdUnit, RunsAsTheCreatedUserWithItsDataWhereTheProgramLooks) {
  const std::string sysusers = testenv::ReadFile(ACSERVER_SYSUSERS);
  // The user line of the sysusers file: "u NAME ...".
  std::string createdUser;
  std::istringstream lines(sysusers);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string kind, name;
    if (words >> kind >> name && kind == "u") createdUser = name;
  }
  ASSERT_FALSE(createdUser.empty()) << "no user line in " << ACSERVER_SYSUSERS;

  for (const TUnitFile& file : kUnits) {
    SCOPED_TRACE(file.FileName);
    const std::string text = testenv::ReadFile(file.Path);
    const auto unit = UnitKeys(text);
    ASSERT_FALSE(unit.empty()) << file.Path;
    EXPECT_EQ(unit.at("User"), createdUser);
    EXPECT_EQ(unit.at("Group"), createdUser);

    // systemd creates /var/lib/<StateDirectory> for that user; the program must read it.
    const std::string stateDir = "/var/lib/" + unit.at("StateDirectory");
    EXPECT_EQ(unit.at("Environment"), "ACSERVER_HOME=" + stateDir);
    EXPECT_EQ(unit.at("WorkingDirectory"), stateDir);
    EXPECT_EQ(unit.at("StateDirectoryMode"), "0700") << "the configuration holds the remote console password";
    if (file.FileName.find('@') != std::string::npos) {
      EXPECT_EQ(unit.at("StateDirectory"), "acserver/%i") << "one data directory per instance";
    }

    // A configuration that fails every start stops after a few tries: the
    // limit sits in [Unit] (systemd ignores it elsewhere) and the restarts can
    // reach it within its interval.
    const auto unitSection = UnitKeys(text, "[Unit]");
    ASSERT_TRUE(unitSection.count("StartLimitIntervalSec") && unitSection.count("StartLimitBurst"));
    EXPECT_EQ(unit.at("Restart"), "on-failure");
    const int interval = std::stoi(unitSection.at("StartLimitIntervalSec"));
    const int burst = std::stoi(unitSection.at("StartLimitBurst"));
    EXPECT_GE(burst, 3);
    EXPECT_LT(burst * std::stoi(unit.at("RestartSec")), interval);
    EXPECT_EQ(unit.at("RestrictAddressFamilies"), "AF_INET AF_INET6 AF_UNIX") << "a database reached over IPv6";
  }
}

TEST(SystemdUnit, PassesSystemdChecksAndRatesTwoPointFiveOrLower) {
  const std::string analyze = InPath("systemd-analyze");
  if (analyze.empty()) GTEST_SKIP() << "systemd-analyze is not installed (Debian package systemd)";

  for (const TUnitFile& file : kUnits) {
    SCOPED_TRACE(file.FileName);
    // verify also checks that ExecStart= names an executable: the copy points it at
    // the freshly built program instead of the install path. For the template it
    // loads an instance, so the specifiers are resolved as at a real start.
    testenv::TTempDir dir;
    std::string text = testenv::ReadFile(file.Path);
    const size_t exec = text.find("\nExecStart=");
    ASSERT_NE(exec, std::string::npos);
    text.replace(exec + 1, text.find('\n', exec + 1) - exec - 1, std::string("ExecStart=") + ACSERVER_BINARY);
    testenv::WriteFile(dir.Path() + file.FileName, text);

    const TRun verify = RunTool(analyze, {"verify", dir.Path() + file.Verified});
    EXPECT_EQ(verify.Status, 0) << verify.Output;
    // Warnings about the host's own units are not this unit's business.
    std::istringstream lines(verify.Output);
    for (std::string line; std::getline(lines, line);) {
      EXPECT_EQ(line.find(file.FileName), std::string::npos) << line;
      EXPECT_EQ(line.find(file.Verified), std::string::npos) << line;
    }
  }

  // The sysusers file makes the user, tried on an empty root.
  const std::string sysusers = InPath("systemd-sysusers");
  if (!sysusers.empty()) {
    testenv::TTempDir root;
    std::filesystem::create_directory(root.Path() + "etc");
    const TRun users = RunTool(sysusers, {"--root=" + root.Path(), "--dry-run", ACSERVER_SYSUSERS});
    EXPECT_EQ(users.Status, 0) << users.Output;
    EXPECT_NE(users.Output.find("Creating user 'acserver'"), std::string::npos) << users.Output;
  }

  for (const TUnitFile& file : kUnits) {
    SCOPED_TRACE(file.FileName);
    const TRun security = RunTool(analyze, {"security", "--offline=yes", file.Path});
    if (security.Status != 0 && security.Output.find("offline") != std::string::npos) {
      GTEST_SKIP() << "this systemd-analyze cannot rate a unit file offline (systemd 250 or later can): "
                   << security.Output;
    }
    const std::string head = "Overall exposure level for ";
    const size_t at = security.Output.find(head);
    ASSERT_NE(at, std::string::npos) << security.Output;
    const size_t colon = security.Output.find(": ", at);
    ASSERT_NE(colon, std::string::npos) << security.Output;
    const double exposure = std::strtod(security.Output.c_str() + colon + 2, nullptr);
    EXPECT_GT(exposure, 0.0) << security.Output;
    EXPECT_LE(exposure, 2.5) << security.Output;
    std::cout << "systemd-analyze security " << file.FileName << ": exposure " << exposure << "\n";
  }
}

}  // namespace
