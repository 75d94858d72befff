// The client simulator program: plays one anti-cheat client against a running
// server. It connects, sends updates at an interval, optionally sends a
// screenshot and reports a cheat, disconnects, and prints every line it sends
// and every reply, prefixed with its player's name.
//
//   clientsim [--host 127.0.0.1] --port 28015 --name "John Smith" --id 123
//             --check <cl_id> [--from 127.0.0.2] [--updates 3] [--interval-ms 1000]
//             [--screen-state 1] [--screen FILE] [--cheat wallhack] [--cheat-after N]
//             [--cheat-name "Other Player"] [--reconnect-after-ms MS] [--start-delay-ms MS]
//             [--events]
//
// --updates -1 keeps the client alive until SIGINT or SIGTERM; it then
// disconnects. --screen sends FILE as a screenshot after the first update.
// --cheat reports a cheat after --cheat-after updates (default: all of them);
// with --reconnect-after-ms the client then waits MS and connects once more
// with the same identifier, which a ban refuses.
// --events prints, without the name prefix, only what a person watching wants to
// know: connected or refused, a keep-alive reply that differs from the one
// before, the screenshot, the cheat report, the disconnect.
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
               "                 [--cheat REASON] [--cheat-after N] [--cheat-name NAME]\n"
               "                 [--reconnect-after-ms MS] [--start-delay-ms MS] [--events]\n");
}

bool eventsOnly = false;  // --events
std::string prefix;       // "[client Alice] ", empty with --events

void Print(const std::string& text) {
  std::printf("%s%s\n", prefix.c_str(), text.c_str());
  std::fflush(stdout);
}

// One line of the story, printed only with --events.
void Event(const std::string& text) {
  if (eventsOnly) Print(text);
}

// Sends one line and returns its reply; without --events both are printed.
std::optional<std::string> Exchange(clientsim::TClientSim& client, const std::string& line) {
  if (!eventsOnly) Print("> " + line);
  std::optional<std::string> reply = client.Command(line, 15000);
  if (!eventsOnly) Print(reply ? "< " + clientsim::PrintableReply(*reply) : "< (no reply: connection closed or timed out)");
  return reply;
}

// What a reply to "<connect>" means.
std::string ConnectMeaning(const std::string& reply) {
  if (reply.rfind("rpl:accept", 0) == 0) return "accepted";
  if (reply == "rpl:ban") return "refused: banned (rpl:ban)";
  if (reply == "rpl:ccv") return "refused: wrong check value (rpl:ccv)";
  if (reply == "rpl:exists") return "refused: the name is already online (rpl:exists)";
  return "refused (" + clientsim::PrintableReply(reply) + ")";
}

// What a reply to "<update>" means.
std::string UpdateMeaning(const std::string& reply) {
  if (reply == "rpl:strue") return "accepted, and the server has seen our player in the game (rpl:strue)";
  if (reply == "rpl:true") return "accepted (rpl:true)";
  if (reply == "rpl:false") return "the server does not know us (rpl:false)";
  return clientsim::PrintableReply(reply);
}

// Connects and registers; nullopt (with the reason printed) when that fails.
// The connect reply goes to *reply when one came.
std::optional<clientsim::TClientSim> Register(std::map<std::string, std::string>& options, const std::string& name,
                                              std::string* reply = nullptr) {
  std::string error;
  auto client = clientsim::TClientSim::Open(options["--host"], std::atoi(options["--port"].c_str()), &error,
                                            options.count("--from") ? options["--from"] : "");
  if (!client) {
    std::fprintf(stderr, "%s%s\n", prefix.c_str(), error.c_str());
    return std::nullopt;
  }
  const std::optional<std::string> answer =
      Exchange(*client, clientsim::ConnectLine(name, options["--id"], options["--check"]));
  const std::string as = "\"" + name + "\" (" + options["--id"] + ")";
  if (!answer) {
    Event("connect as " + as + ": no reply (connection closed or timed out)");
    return std::nullopt;
  }
  if (reply) *reply = *answer;
  Event("connect as " + as + ": " + ConnectMeaning(*answer));
  if (answer->rfind("rpl:accept", 0) != 0) return std::nullopt;
  return client;
}

bool SendScreen(clientsim::TClientSim& client, const std::map<std::string, std::string>& options,
                const std::string& name) {
  std::string file, error;
  if (!platform::ReadWholeFile(options.at("--screen"), file, &error)) {
    Print("screenshot: " + error);
    return false;
  }
  const auto server = platform::ParseDottedAddress(options.at("--host"));
  auto pieces = clientsim::TPieceSender::Open(
      {server.value_or(0), static_cast<uint16_t>(std::atoi(options.at("--port").c_str()))},
      options.count("--from") ? options.at("--from") : "", &error);
  if (!server || !pieces) {
    Print("screenshot: " + error);
    return false;
  }
  clientsim::ScreenSendOptions send;
  send.Name = name;
  auto result = clientsim::SendScreenshot([&](const std::string& line) { return client.Command(line, 15000); },
                                          *pieces, file, send);
  Print("screenshot of " + std::to_string(file.size()) + " bytes: " + (result.Completed ? "sent" : "not sent") + " (" +
        std::to_string(result.Datagrams) + " datagrams, " + std::to_string(result.Checks) + (result.Checks == 1 ? " check)" : " checks)") +
        (result.Error.empty() ? "" : ": " + result.Error));
  return result.Completed;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> options = {{"--host", "127.0.0.1"}, {"--updates", "3"},
                                                {"--interval-ms", "1000"}, {"--screen-state", "1"}};
  bool paired = true;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--events") {
      eventsOnly = true;
    } else if (i + 1 < argc) {
      options[argv[i]] = argv[i + 1];
      ++i;
    } else {
      paired = false;
    }
  }
  if (!paired || !options.count("--port") || !options.count("--name") || !options.count("--id") ||
      !options.count("--check")) {
    Usage();
    return 2;
  }
  platform::InstallStopHandlers();
  const std::string name = options["--name"];
  prefix = eventsOnly ? "" : "[client " + name + "] ";
  if (options.count("--start-delay-ms") && platform::WaitForStop(std::atoi(options["--start-delay-ms"].c_str()))) {
    return 0;
  }
  auto client = Register(options, name);
  if (!client) return 1;

  const int updates = std::atoi(options["--updates"].c_str());
  const int cheatAfter = options.count("--cheat-after") ? std::atoi(options["--cheat-after"].c_str()) : updates;
  const int intervalMs = std::atoi(options["--interval-ms"].c_str());
  std::string lastUpdateReply;
  int keptAlive = 0;
  for (int i = 0; updates < 0 || i < updates; ++i) {
    if (platform::WaitForStop(intervalMs)) break;
    const std::optional<std::string> reply = Exchange(*client, clientsim::UpdateLine(name, options["--screen-state"]));
    if (!reply) {
      Event("keep-alive: no reply (connection closed or timed out)");
      return 1;
    }
    ++keptAlive;
    if (*reply != lastUpdateReply) Event("keep-alive: " + UpdateMeaning(*reply));
    lastUpdateReply = *reply;
    if (i == 0 && options.count("--screen")) SendScreen(*client, options, name);
    if (options.count("--cheat") && i + 1 == cheatAfter) {
      const std::string target = options.count("--cheat-name") ? options["--cheat-name"] : name;
      const std::optional<std::string> verdict = Exchange(*client, clientsim::BanLine(target, options["--cheat"]));
      Event("report cheat \"" + options["--cheat"] + "\" of \"" + target + "\": " +
            (!verdict                 ? std::string("no reply (connection closed or timed out)")
             : *verdict == "rpl:true" ? "the server banned the player (rpl:true)"
                                      : "refused (" + clientsim::PrintableReply(*verdict) + ")"));
      if (!verdict || *verdict != "rpl:true") return 1;
      // A banned client's registration is gone: nothing is left to keep alive.
      client->Close();
      if (!options.count("--reconnect-after-ms") ||
          platform::WaitForStop(std::atoi(options["--reconnect-after-ms"].c_str()))) {
        return 0;
      }
      // The ban refuses the same identifier: that is the expected outcome.
      std::string again;
      Register(options, name, &again);
      return again == "rpl:ban" ? 0 : 1;
    }
  }
  const std::optional<std::string> bye = Exchange(*client, clientsim::DisconnectLine(name));
  Event("disconnect after " + std::to_string(keptAlive) + " keep-alives: " +
        (!bye ? std::string("no reply (connection closed or timed out)") : clientsim::PrintableReply(*bye)));
  return bye ? 0 : 1;
}
