// What a search of the records reads: for every record its id, when it was
// made, whether it is in force, and its name, identifier, address and reason
// case-folded into one text. Kept in memory, newest last, so that a substring
// search of 100,000 records is one pass over a few megabytes (milliseconds)
// however common the text is: a trigram index answers rare texts faster, but
// takes tens of milliseconds for a text most records hold ("STEAM_0"), and a
// scan inside SQLite takes tens of milliseconds for any text.
//
// Not thread safe: its owner (TRecordBase) serialises the calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace records {

// The text with ASCII, Latin-1 and Cyrillic capital letters (in UTF-8) made
// small, and control bytes dropped; all else unchanged. Both the records and
// the searched text go through it, so a search ignores case in those scripts.
std::string FoldForSearch(std::string_view text);

class TSearchIndex {
 public:
  struct TFields {
    int64_t Id = 0;
    int64_t MadeAt = 0;
    bool InForce = true;
    std::string_view Name, Identifier, Address, Reason;
  };
  void Add(const TFields& record);
  // Ids are given out in increasing order; the highest one taken so far.
  int64_t MaxId() const { return maxId_; }
  // The ids in force now: every record not among them is ended (an end is
  // never undone).
  void KeepInForce(const std::unordered_set<int64_t>& inForce);

  enum class Which { All, InForce, Ended };
  // The ids of the matches from offset on, at most limit, newest first (by
  // MadeAt, then Id), and how many match in all. folded: a text from
  // FoldForSearch; empty matches all. Without matchAddress, a text found only
  // in a record's address is no match.
  std::vector<int64_t> Find(std::string_view folded, Which which, int64_t offset, int64_t limit, int64_t* total,
                            bool matchAddress = true) const;
  size_t Size() const { return entries_.size(); }
  // The memory the index holds, in bytes.
  size_t Bytes() const;

 private:
  struct TEntry {
    int64_t Id;
    int64_t MadeAt;
    uint32_t Offset;  // of the folded text in text_
    uint32_t Length;
    bool InForce;
  };
  std::vector<TEntry> entries_;  // by (MadeAt, Id), oldest first
  std::string text_;             // the folded texts, one after another
  int64_t maxId_ = 0;
};

}  // namespace records
