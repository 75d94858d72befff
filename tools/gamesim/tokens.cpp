#include "gamesim/tokens.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "gamesim/game_server_sim.h"

namespace gamesim {
namespace {

bool IsSingleCharToken(char c) { return c != '\0' && std::strchr("{}()':,", c) != nullptr; }

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

}  // namespace

TTokens Tokenise(const std::string& line) {
  TTokens tokens;
  size_t i = 0;
  for (;;) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) break;
    std::string word;
    if (line[i] == '"') {
      ++i;
      while (i < line.size() && line[i] != '"') word += line[i++];
      if (i < line.size()) ++i;  // the closing quote
    } else if (IsSingleCharToken(line[i])) {
      word = line[i++];
    } else {
      while (i < line.size() && !IsBlank(line[i]) && !IsSingleCharToken(line[i])) word += line[i++];
    }
    tokens.Words.push_back(word);
    tokens.End.push_back(i);
  }
  return tokens;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

int64_t EngineAtoi(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

}  // namespace gamesim
