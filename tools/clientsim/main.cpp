// The client simulator program: plays one anti-cheat client against a running
// server. It connects, sends updates at an interval, optionally reports a
// cheat, disconnects, and prints every reply.
//
//   clientsim [--host 127.0.0.1] --port 28015 --name "John Smith" --id 123
//             --check <cl_id> [--from 127.0.0.2] [--updates 3] [--interval-ms 1000]
//             [--screen-state 1] [--cheat-name "Other Player"] [--cheat wallhack]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>

#include "clientsim/client_sim.h"

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: clientsim [--host H] --port P --name NAME --id ID --check CLID [--from ADDR]\n"
               "                 [--updates N] [--interval-ms MS] [--screen-state S] [--cheat REASON]\n"
               "                 [--cheat-name NAME]\n");
}

bool Run(clientsim::TClientSim& client, const std::string& line) {
  std::printf("> %s\n", line.c_str());
  std::optional<std::string> reply = client.Command(line);
  if (!reply) {
    std::printf("< (no reply: connection closed or timed out)\n");
    return false;
  }
  std::printf("< %s\n", clientsim::PrintableReply(*reply).c_str());
  return true;
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
  const std::string name = options["--name"];
  std::string error;
  auto client = clientsim::TClientSim::Open(options["--host"], std::atoi(options["--port"].c_str()), &error,
                                            options.count("--from") ? options["--from"] : "");
  if (!client) {
    std::fprintf(stderr, "clientsim: %s\n", error.c_str());
    return 1;
  }
  if (!Run(*client, clientsim::ConnectLine(name, options["--id"], options["--check"]))) return 1;

  const int updates = std::atoi(options["--updates"].c_str());
  const auto interval = std::chrono::milliseconds(std::atoi(options["--interval-ms"].c_str()));
  for (int i = 0; i < updates; ++i) {
    std::this_thread::sleep_for(interval);
    if (!Run(*client, clientsim::UpdateLine(name, options["--screen-state"]))) return 1;
  }
  if (options.count("--cheat")) {
    const std::string target = options.count("--cheat-name") ? options["--cheat-name"] : name;
    if (!Run(*client, clientsim::BanLine(target, options["--cheat"]))) return 1;
  }
  return Run(*client, clientsim::DisconnectLine(name)) ? 0 : 1;
}
