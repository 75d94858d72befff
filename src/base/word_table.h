// The words that name the values of an enumeration, in one table that both
// printing and parsing read, so that each name is written once.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

template <typename T>
struct TWord {
  const char* Word;
  T Value;
};

// The word of value in words; absent when the table has none.
template <typename T, size_t N>
constexpr const char* WordOf(const TWord<T> (&words)[N], T value, const char* absent) {
  for (const auto& word : words) {
    if (word.Value == value) return word.Word;
  }
  return absent;
}

// The value whose word is text exactly; nullopt when none is.
template <typename T, size_t N>
constexpr std::optional<T> ValueOf(const TWord<T> (&words)[N], std::string_view text) {
  for (const auto& word : words) {
    if (text == word.Word) return word.Value;
  }
  return std::nullopt;
}
