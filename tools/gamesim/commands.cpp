// The commands the simulator runs once a remote-console datagram has passed
// every check: what each prints into the answer and what it records.
#include <algorithm>

#include "gamesim/game_server_sim.h"
#include "gamesim/status_text.h"
#include "gamesim/tokens.h"

namespace gamesim {
namespace {

constexpr size_t kMaxSayText = 63;  // the engine cuts a console say here (Host_Say)
constexpr size_t kSayBuffer = 127;  // "<hostname> " and the text share 127 bytes

// The engine's Cmd_Args: the rest of the line from the second token on.
std::string Args(const std::string& command, const TTokens& tokens) {
  if (tokens.Words.size() < 2) return std::string();
  size_t start = tokens.End[0];
  while (start < command.size() && static_cast<unsigned char>(command[start]) <= ' ') ++start;
  return command.substr(start);
}

bool IsTsayColour(const std::string& word) {
  static const char* const kColours[] = {"white", "red",    "green", "blue",  "yellow",
                                         "magenta", "cyan", "orange", "ocean", "maroon"};
  const std::string lower = Lower(word);
  return std::any_of(std::begin(kColours), std::end(kColours), [&](const char* c) { return lower == c; });
}

}  // namespace

std::vector<std::string> TGameServerSim::Execute(const std::string& command) {
  const TTokens tokens = Tokenise(command);
  if (tokens.Words.empty()) return {};
  const std::string word = Lower(tokens.Words[0]);
  const TStatusHeader header{hostname_, "127.0.0.1:" + std::to_string(port_), statusMark_, version_, maxPlayers_};
  auto canned = outputs_.find(word);
  if (canned != outputs_.end()) {
    events_.push_back("set output of " + word + ": " + std::to_string(canned->second.size()) + " bytes");
    std::vector<std::string> prints;
    for (char c : canned->second) prints.emplace_back(1, c);
    return prints;
  }
  if (word == "status") {
    events_.push_back("engine status asked: " + std::to_string(players_.size()) + " players");
    return EngineStatusPrints(header, players_);
  }
  if (word == "zelk_stat" && statusAddon_) {
    events_.push_back("status asked: " + std::to_string(players_.size()) + " players, mark " + statusMark_);
    return AddonStatusPrints(header, players_);
  }
  // The engine prints a cvar asked without a value (Cvar_Command).
  if (word == "hostname" && tokens.Words.size() == 1) return {"\"hostname\" is \"" + hostname_ + "\"\n"};
  if (word == "kick") return Kick(command, tokens);
  if (word == "amx_tsay" && chatAddon_) return Tsay(command, tokens);
  if (word == "say") return Say(command, tokens);
  if (word == "hostname") return Hostname(tokens);
  events_.push_back("unknown command: " + command);
  return {};
}

std::vector<std::string> TGameServerSim::Kick(const std::string& command, const TTokens& tokens) {
  if (tokens.Words.size() < 2) return {};
  const std::string& who = tokens.Words[1];
  const std::string args = Args(command, tokens);
  TSimKick kick;
  kick.Text = tokens.Words.size() >= 3 ? tokens.Words[2] : std::string();
  // The engine skips the first argument's length plus one in the raw line,
  // whether or not that argument was quoted.
  const size_t skip = who.size() + 1;
  kick.Shown = args.size() > skip ? args.substr(skip) : std::string();
  const bool byUserId = who.size() > 1 && who[0] == '#';
  std::vector<TSimPlayer>::iterator it;
  if (byUserId) {
    kick.UserId = static_cast<int>(EngineAtoi(who.substr(1)));
    it = std::find_if(players_.begin(), players_.end(), [&](const TSimPlayer& p) { return p.UserId == kick.UserId; });
  } else {
    kick.Name = who;
    it = std::find_if(players_.begin(), players_.end(), [&](const TSimPlayer& p) { return Lower(p.Name) == Lower(who); });
  }
  if (it != players_.end()) {
    kick.Found = true;
    kick.Name = byUserId ? it->Name : kick.Name;
    kick.UserId = it->UserId;
    players_.erase(it);
  }
  kicks_.push_back(kick);
  events_.push_back("kick " + who + " (" + (kick.Found ? "left" : "not found") + "), shown: Kicked :" + kick.Shown);
  return {};
}

// The engine's cvar command: alone it prints the value, with an argument it
// sets the value to that one token (quote a hostname with blanks).
std::vector<std::string> TGameServerSim::Hostname(const TTokens& tokens) {
  if (tokens.Words.size() < 2) return {"\"hostname\" is \"" + hostname_ + "\"\n"};
  hostname_ = tokens.Words[1];
  events_.push_back("hostname set: " + hostname_);
  return {};
}

std::vector<std::string> TGameServerSim::Tsay(const std::string& command, const TTokens& tokens) {
  const std::string args = Args(command, tokens);
  // The add-on removes one pair of quotes around all its arguments (both must
  // be there), then takes a known colour word off the front; an unknown first
  // word stays in the text. Quotes around the text alone stay.
  std::string message = args;
  if (message.size() >= 2 && message.front() == '"' && message.back() == '"') {
    message = message.substr(1, message.size() - 2);
  }
  TSimChat chat;
  chat.Kind = TSimChatKind::Tsay;
  const std::string first = message.substr(0, message.find(' '));
  if (IsTsayColour(first)) {
    chat.Colour = first;
    chat.Shown = message.size() > first.size() ? message.substr(first.size() + 1) : std::string();
  } else {
    chat.Shown = message;
  }
  chats_.push_back(args);
  messages_.push_back(chat);
  events_.push_back("chat (" + (chat.Colour.empty() ? std::string("no colour") : chat.Colour) + "): " + chat.Shown);
  return {hostname_ + " :  " + chat.Shown + "\n"};
}

std::vector<std::string> TGameServerSim::Say(const std::string& command, const TTokens& tokens) {
  std::string text = Args(command, tokens);
  // A text that begins with "//" is a comment to the engine's tokeniser: say
  // then has no argument and shows nothing.
  if (text.empty() || text.starts_with("//")) return {};
  // The engine drops a leading quote and, with it, the last character.
  if (text.front() == '"') text = text.substr(1, text.size() >= 2 ? text.size() - 2 : 0);
  // It keeps the first 63 characters, and fewer when "<hostname> " and the
  // text would not fit its 127 bytes: min(63, 124 - H) for a hostname of H.
  const size_t prefix = hostname_.size() + 3;  // strlen("<hostname> ")
  const size_t room = prefix < kSayBuffer ? kSayBuffer - prefix : 0;
  text.resize(std::min({text.size(), kMaxSayText, room}));
  TSimChat chat;
  chat.Kind = TSimChatKind::Say;
  chat.Shown = "<" + hostname_ + "> " + text;
  messages_.push_back(chat);
  events_.push_back("say: " + chat.Shown);
  return {};  // the engine prints a console say outside the remote console's answer
}

}  // namespace gamesim
