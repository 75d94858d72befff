// The client simulator program: plays one anti-cheat client against a running
// server. It connects, sends updates at an interval, optionally sends a
// screenshot and reports a cheat, disconnects, and prints every line it sends
// and every reply, prefixed with its player's name.
//
//   clientsim [--host 127.0.0.1] --port 28015 --name "John Smith" --id 123
//             --check <cl_id> [--from 127.0.0.2] [--updates 3] [--interval-ms 1000]
//             [--screen-state 1] [--screen FILE] [--cheat wallhack] [--cheat-after N]
//             [--cheat-name "Other Player"] [--start-delay-ms MS]
//
// --updates -1 keeps the client alive until SIGINT or SIGTERM; it then
// disconnects. --screen sends FILE as a screenshot after the first update.
// --cheat reports a cheat after --cheat-after updates (default: all of them).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "clientsim/client_sim.h"
#include "clientsim/screen_sender.h"
#include "platform/files.h"
#include "platform/stop_signal.h"

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: clientsim [--host H] --port P --name NAME --id ID --check CLID [--from ADDR]\n"
               "                 [--updates N|-1] [--interval-ms MS] [--screen-state S] [--screen FILE]\n"
               "                 [--cheat REASON] [--cheat-after N] [--cheat-name NAME] [--start-delay-ms MS]\n");
}

std::string prefix;  // "[client Alice] "

bool Run(clientsim::TClientSim& client, const std::string& line) {
  std::printf("%s> %s\n", prefix.c_str(), line.c_str());
  std::optional<std::string> reply = client.Command(line, 15000);
  if (!reply) {
    std::printf("%s< (no reply: connection closed or timed out)\n", prefix.c_str());
    std::fflush(stdout);
    return false;
  }
  std::printf("%s< %s\n", prefix.c_str(), clientsim::PrintableReply(*reply).c_str());
  std::fflush(stdout);
  return true;
}

bool SendScreen(clientsim::TClientSim& client, const std::map<std::string, std::string>& options,
                const std::string& name) {
  std::string file, error;
  if (!platform::ReadWholeFile(options.at("--screen"), file, &error)) {
    std::printf("%sscreenshot: %s\n", prefix.c_str(), error.c_str());
    return false;
  }
  const auto server = platform::ParseDottedAddress(options.at("--host"));
  auto pieces = clientsim::TPieceSender::Open(
      {server.value_or(0), static_cast<uint16_t>(std::atoi(options.at("--port").c_str()))},
      options.count("--from") ? options.at("--from") : "", &error);
  if (!server || !pieces) {
    std::printf("%sscreenshot: %s\n", prefix.c_str(), error.c_str());
    return false;
  }
  clientsim::ScreenSendOptions send;
  send.Name = name;
  auto result = clientsim::SendScreenshot([&](const std::string& line) { return client.Command(line, 15000); },
                                          *pieces, file, send);
  std::printf("%sscreenshot of %zu bytes: %s (%ld datagrams, %d checks)%s%s\n", prefix.c_str(), file.size(),
              result.Completed ? "sent" : "not sent", result.Datagrams, result.Checks,
              result.Error.empty() ? "" : ": ", result.Error.c_str());
  std::fflush(stdout);
  return result.Completed;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> options = {{"--host", "127.0.0.1"}, {"--updates", "3"},
                                                {"--interval-ms", "1000"}, {"--screen-state", "1"}};
  for (int i = 1; i + 1 < argc; i += 2) options[argv[i]] = argv[i + 1];
  if (argc % 2 == 0 || !options.count("--port") || !options.count("--name") || !options.count("--id") ||
      !options.count("--check")) {
    Usage();
    return 2;
  }
  platform::InstallStopHandlers();
  const std::string name = options["--name"];
  prefix = "[client " + name + "] ";
  if (options.count("--start-delay-ms") && platform::WaitForStop(std::atoi(options["--start-delay-ms"].c_str()))) {
    return 0;
  }
  std::string error;
  auto client = clientsim::TClientSim::Open(options["--host"], std::atoi(options["--port"].c_str()), &error,
                                            options.count("--from") ? options["--from"] : "");
  if (!client) {
    std::fprintf(stderr, "%s%s\n", prefix.c_str(), error.c_str());
    return 1;
  }
  if (!Run(*client, clientsim::ConnectLine(name, options["--id"], options["--check"]))) return 1;

  const int updates = std::atoi(options["--updates"].c_str());
  const int cheatAfter = options.count("--cheat-after") ? std::atoi(options["--cheat-after"].c_str()) : updates;
  const int intervalMs = std::atoi(options["--interval-ms"].c_str());
  for (int i = 0; updates < 0 || i < updates; ++i) {
    if (platform::WaitForStop(intervalMs)) break;
    if (!Run(*client, clientsim::UpdateLine(name, options["--screen-state"]))) return 1;
    if (i == 0 && options.count("--screen")) SendScreen(*client, options, name);
    if (options.count("--cheat") && i + 1 == cheatAfter) {
      const std::string target = options.count("--cheat-name") ? options["--cheat-name"] : name;
      // A banned client's registration is gone: nothing is left to keep alive.
      return Run(*client, clientsim::BanLine(target, options["--cheat"])) ? 0 : 1;
    }
  }
  return Run(*client, clientsim::DisconnectLine(name)) ? 0 : 1;
}
