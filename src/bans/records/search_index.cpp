#include "bans/records/search_index.h"

#include <algorithm>

namespace records {

std::string FoldForSearch(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) continue;
    if (byte >= 'A' && byte <= 'Z') {
      out.push_back(static_cast<char>(byte + 32));
      continue;
    }
    if (i + 1 < text.size() && (byte == 0xC3 || byte == 0xD0)) {
      const auto next = static_cast<unsigned char>(text[i + 1]);
      if (byte == 0xC3 && next >= 0x80 && next <= 0x9E && next != 0x97) {  // À..Þ but ×
        out.push_back(static_cast<char>(byte));
        out.push_back(static_cast<char>(next + 0x20));
        ++i;
        continue;
      }
      if (byte == 0xD0 && next >= 0x90 && next <= 0x9F) {  // А..П -> а..п
        out.push_back(static_cast<char>(0xD0));
        out.push_back(static_cast<char>(next + 0x20));
        ++i;
        continue;
      }
      if (byte == 0xD0 && next >= 0xA0 && next <= 0xAF) {  // Р..Я -> р..я
        out.push_back(static_cast<char>(0xD1));
        out.push_back(static_cast<char>(next - 0x20));
        ++i;
        continue;
      }
      if (byte == 0xD0 && next >= 0x80 && next <= 0x8F) {  // Ѐ..Џ -> ѐ..џ
        out.push_back(static_cast<char>(0xD1));
        out.push_back(static_cast<char>(next + 0x10));
        ++i;
        continue;
      }
    }
    out.push_back(static_cast<char>(byte));
  }
  return out;
}

void TSearchIndex::Add(const TFields& record) {
  // The fields are joined by a line end, which no folded text holds, so a
  // match never spans two fields.
  const std::string folded = FoldForSearch(record.Name) + '\n' + FoldForSearch(record.Identifier) + '\n' +
                             FoldForSearch(record.Address) + '\n' + FoldForSearch(record.Reason);
  const TEntry entry{record.Id, record.MadeAt, static_cast<uint32_t>(text_.size()),
                     static_cast<uint32_t>(folded.size()), record.InForce};
  text_ += folded;
  maxId_ = std::max(maxId_, record.Id);
  const auto older = [](const TEntry& a, const TEntry& b) {
    return a.MadeAt != b.MadeAt ? a.MadeAt < b.MadeAt : a.Id < b.Id;
  };
  // Records come mostly newest last; an older one (an import, a batch kept
  // after a failure) is put in its place.
  if (entries_.empty() || older(entries_.back(), entry)) {
    entries_.push_back(entry);
  } else {
    entries_.insert(std::upper_bound(entries_.begin(), entries_.end(), entry, older), entry);
  }
}

void TSearchIndex::KeepInForce(const std::unordered_set<int64_t>& inForce) {
  for (TEntry& entry : entries_) {
    if (entry.InForce && !inForce.contains(entry.Id)) entry.InForce = false;
  }
}

namespace {

// Whether folded is in the record's text outside its third field, the
// address (the fields are name, identifier, address, reason, joined by '\n').
bool FoundBesideAddress(std::string_view record, std::string_view folded) {
  const size_t second = record.find('\n', record.find('\n') + 1);
  const size_t third = record.find('\n', second + 1);
  return record.substr(0, second).find(folded) != std::string_view::npos ||
         record.substr(third + 1).find(folded) != std::string_view::npos;
}

}  // namespace

std::vector<int64_t> TSearchIndex::Find(std::string_view folded, Which which, int64_t offset, int64_t limit,
                                        int64_t* total, bool matchAddress) const {
  std::vector<int64_t> ids;
  int64_t matches = 0;
  const std::string_view text(text_);
  for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry) {
    if (which != Which::All && entry->InForce != (which == Which::InForce)) continue;
    if (!folded.empty()) {
      const std::string_view record = text.substr(entry->Offset, entry->Length);
      if (record.find(folded) == std::string_view::npos) continue;
      // The rare match is looked at again: it may lie in the address alone.
      if (!matchAddress && !FoundBesideAddress(record, folded)) continue;
    }
    if (matches >= offset && matches - offset < limit) ids.push_back(entry->Id);
    ++matches;
  }
  *total = matches;
  return ids;
}

size_t TSearchIndex::Bytes() const { return entries_.capacity() * sizeof(TEntry) + text_.capacity(); }

}  // namespace records
