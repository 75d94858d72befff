#include "log/logs.h"

#include <mutex>
#include <thread>

#include "base/timing.h"
#include "platform/clock_text.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/program_dir.h"

namespace {

// Each lock guards the appends to its file, so lines never interleave and a
// write never meets the file half-written by another thread.
std::mutex fullLogLock;
std::mutex lightLogLock;

constexpr const char* kFullLog = "zelk_logs.txt";
constexpr const char* kLightLog = "zelk_light_logs.txt";

void AppendLine(std::mutex& lock, const std::string& file, const std::string& line) {
  std::lock_guard<std::mutex> guard(lock);
  const std::string dir = LogDirectory();
  std::string error;
  if (platform::AppendToFile(dir + file, line + "\r\n", &error)) return;
  // logs/ may have been removed while the server runs: make it again, once.
  std::string retryError;
  if (!platform::DirectoryExists(dir) && platform::MakeDirectory(dir, &retryError) &&
      platform::AppendToFile(dir + file, line + "\r\n", &retryError)) {
    return;
  }
  platform::ErrorLine("log write failed (" + error + "): " + line);
}

}  // namespace

std::string LogDirectory() { return platform::DataDirectory() + "logs/"; }

std::string LogStamp() {
  std::string time = platform::CurrentTimeText();
  std::string date = platform::CurrentDateText();
  return date + " | " + time + " : ";
}

bool RotateLogs(std::string* error) {
  const std::string dir = LogDirectory();
  if (!platform::DirectoryExists(dir)) platform::MakeDirectory(dir);
  std::lock_guard<std::mutex> fullGuard(fullLogLock);
  std::lock_guard<std::mutex> lightGuard(lightLogLock);
  if (platform::FileExists(dir + kFullLog)) {
    int n = 2;
    while (platform::FileExists(dir + "zelk_logs" + std::to_string(n) + ".txt")) ++n;
    std::string renameError;
    if (!platform::RenameFile(dir + kFullLog, dir + "zelk_logs" + std::to_string(n) + ".txt", &renameError)) {
      platform::ErrorLine("log rotation: " + renameError);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(Timing.RotatePauseMs));
  }
  return platform::CreateEmptyFile(dir + kFullLog, error) && platform::CreateEmptyFile(dir + kLightLog, error);
}

void WriteLog(const std::string& message) {
  const std::string line = LogStamp() + message;
  platform::ConsoleLines({"Anticheat log write:", line});
  AppendLine(fullLogLock, kFullLog, line);
}

void WriteLightLog(const std::string& message) {
  platform::ConsoleLine(message);
  AppendLine(lightLogLock, kLightLog, LogStamp() + message);
}

void WriteEvent(const std::string& message, EventLogs logs) {
  platform::ConsoleLine(message);
  const std::string line = LogStamp() + message;
  AppendLine(fullLogLock, kFullLog, line);
  if (logs == EventLogs::FullAndShort) AppendLine(lightLogLock, kLightLog, line);
}
