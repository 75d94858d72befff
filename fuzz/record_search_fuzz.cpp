// The record search: a query of any text, filter, page and page size, and a
// page of any identifier's history, on a small base of records whose texts
// hold UTF-8, cp1251 and control bytes. Every answer must keep to its page
// and its filter, and a search that may not match addresses (the public ban
// list's) must find its text in another field of every record it answers.
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "platform/program_dir.h"
#include "bans/records/record_base.h"
#include "bans/records/search_index.h"

namespace {

records::TRecordBase& Base() {
  static records::TRecordBase* base = [] {
    auto* opened = new records::TRecordBase();  // never destroyed: the target ends with the process
    std::string error;
    if (!opened->Open(platform::DataDirectory() + "records_fuzz.db", &error)) std::abort();
    const char* names[] = {"Player", "\xD0\x98\xD0\xB3\xD1\x80\xD0\xBE\xD0\xBA", "\xC8\xE3\xF0\xEE\xEA", "a\tb\x01",
                           "", "STEAM_0:1:2"};
    for (int i = 0; i < 40; ++i) {
      TBanRecord record;
      record.Identifier = "ID-" + std::to_string(i % 7);
      record.Name = names[i % 6];
      record.Address = "10.0.0." + std::to_string(i);
      record.Reason = i % 3 ? "wallhack" : "\xC3\x89";
      record.MadeAt = 1700000000 + (i % 5) * 60;
      record.EndsAt = i % 4 ? record.MadeAt + 600 : 0;
      if (!opened->Add(record, &error)) std::abort();
    }
    opened->Lift("ID-3", {"admin", "fuzz", "done"}, 1700001000, &error);
    return opened;
  }();
  return *base;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SetUpProcess();
  Base();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  TBanQuery query;
  query.Filter = static_cast<TBanQuery::Which>(data[0] % 3);
  query.Page = static_cast<int8_t>(data[1]) * (data[2] | 1);
  query.PerPage = static_cast<int8_t>(data[3]) * 5;
  query.Text = fuzz::Text(data + 4, size - 4);
  query.MatchAddress = data[0] / 3 % 2 == 0;
  std::string error;
  const std::optional<TBanPage> page = Base().Search(query, &error);
  if (!page) std::abort();
  const size_t most = static_cast<size_t>(std::clamp(query.PerPage, 1, 500));
  if (page->Records.size() > most || page->Total < static_cast<int64_t>(page->Records.size())) std::abort();
  for (const TBanRecord& record : page->Records) {
    const bool inForce = record.End == BanEnd::InForce;
    if ((query.Filter == TBanQuery::Which::InForce && !inForce) || (query.Filter == TBanQuery::Which::Ended && inForce)) {
      std::abort();
    }
    const std::string folded = records::FoldForSearch(query.Text);
    const auto holds = [&folded](const std::string& field) {
      return records::FoldForSearch(field).find(folded) != std::string::npos;
    };
    if (!query.MatchAddress && !holds(record.Name) && !holds(record.Identifier) && !holds(record.Reason)) std::abort();
  }
  const std::optional<TBanPage> history = Base().HistoryPage(query.Text, data[4], query.Page, query.PerPage, &error);
  if (!history || history->Records.size() > most) std::abort();
  for (const TBanRecord& record : history->Records) {
    if (record.Identifier != query.Text || record.Id == data[4]) std::abort();
  }
  return 0;
}
