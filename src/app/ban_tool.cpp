#include "app/ban_tool.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "app/config_file.h"
#include "base/limits.h"
#include "base/numbers.h"
#include "base/settings.h"
#include "game/ban_base.h"
#include "log/logs.h"
#include "platform/clock_text.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/program_dir.h"
#include "records/file_records.h"
#include "records/record_base.h"
#include "screens/screen_receiver.h"
#include "sharedbans/postgres_ban_store.h"
#include "web/web_json.h"

namespace {

int Fail(const std::string& error) {
  std::fflush(stdout);  // the lines in the order they happened, in a pipe too
  std::fprintf(stderr, "acserver-bans: %s\n", error.c_str());
  return 2;
}

void Warn(const std::string& warning) {
  std::fflush(stdout);
  std::fprintf(stderr, "acserver-bans: warning: %s\n", warning.c_str());
}

// The ban base of zelk_config.txt: the shared base's URI, or the file base
// (URI empty) with its record base opened and brought in line with the file.
struct TBase {
  std::string Uri;
  records::TRecordBase Records;
};

bool OpenBase(TBase& base, std::string* error) {
  const std::string banBase = QuietConfigValue("ban_base");
  if (IsSharedBanBase(banBase)) {
    base.Uri = banBase;
    return true;
  }
  if (!base.Records.Open(records::RecordBasePath(), error)) {
    *error = records::RecordBasePath() + ": " + *error;
    return false;
  }
  return records::FollowBanFile(base.Records, platform::UnixSeconds(), nullptr, nullptr, error);
}

// "host:rconport", as the server names itself in its records.
std::string ServerName() {
  const std::string port = QuietConfigValue("rconport");
  return port.empty() ? platform::HostName() : platform::HostName() + ":" + port;
}

// The screenshot root, as the server finds it, for the evidence's full paths.
std::string ScreenRoot() {
  SettingsRecord settings;
  settings.ScreenDir = NormaliseScreenDir(QuietConfigValue("scr_dir"));
  return ScreenRootDirectory(settings);
}

std::string Shown(const std::string& text) { return platform::WithoutControlBytes(text); }

std::string When(int64_t unixSeconds) { return unixSeconds == 0 ? "never" : platform::UtcTimeText(unixSeconds); }

std::string StateText(const TBanRecord& record) {
  if (record.End == BanEnd::InForce) return record.EndsAt == 0 ? "in force, for ever" : "in force until " + When(record.EndsAt);
  std::string text = std::string(BanEndName(record.End)) + " " + When(record.EndedAt);
  if (!record.EndedBy.empty()) text += " by " + Shown(record.EndedBy);
  if (!record.EndedFrom.empty()) text += " (" + Shown(record.EndedFrom) + ")";
  if (!record.EndReason.empty()) text += ": " + Shown(record.EndReason);
  return text;
}

std::string OriginText(const TBanRecord& record) {
  std::string text = BanOriginName(record.Origin);
  if (!record.ByName.empty()) text += " " + Shown(record.ByName);
  if (!record.ByIdentifier.empty()) text += " " + Shown(record.ByIdentifier);
  if (!record.ByAddress.empty()) text += " " + Shown(record.ByAddress);
  return text;
}

// Records as aligned columns under a header.
void PrintTable(const std::vector<TBanRecord>& list) {
  std::vector<std::vector<std::string>> rows{{"ID", "MADE (UTC)", "IDENTIFIER", "NAME", "STATE", "REASON"}};
  for (const TBanRecord& r : list) {
    rows.push_back({std::to_string(r.Id), When(r.MadeAt), Shown(r.Identifier), Shown(r.Name), StateText(r),
                    Shown(r.Reason)});
  }
  std::vector<size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    std::printf("%s\n", line.c_str());
  }
}

int List(TBase& base, const TBanToolRequest& request) {
  std::string error;
  TBanPage page;
  if (base.Uri.empty()) {
    std::optional<TBanPage> found = base.Records.Search(request.Query, &error);
    if (!found) return Fail(error);
    page = std::move(*found);
  } else if (!SearchSharedBanRecords(base.Uri, request.Query, page, &error)) {
    return Fail(error);
  }
  if (request.Json) {
    std::printf("%s\n", BanPageJson(page, request.Query, platform::UnixSeconds()).c_str());
    return 0;
  }
  PrintTable(page.Records);
  const int64_t pages = std::max<int64_t>(1, (page.Total + request.Query.PerPage - 1) / request.Query.PerPage);
  std::printf("page %d of %lld, %lld record%s\n", request.Query.Page, static_cast<long long>(pages),
              static_cast<long long>(page.Total), page.Total == 1 ? "" : "s");
  return 0;
}

bool History(TBase& base, const std::string& identifier, std::vector<TBanRecord>& list, std::string* error) {
  if (!base.Uri.empty()) return SharedBanHistory(base.Uri, identifier, list, error);
  std::optional<std::vector<TBanRecord>> found = base.Records.History(identifier, error);
  if (found) list = std::move(*found);
  return found.has_value();
}

int Show(TBase& base, const TBanToolRequest& request) {
  const std::optional<int64_t> id = ParseInteger(request.Argument);
  if (!id || *id < 1) return Fail("show needs the number of a record (the ID column of list)");
  std::string error;
  const std::optional<TBanRecord> record =
      base.Uri.empty() ? base.Records.Get(*id, &error) : GetSharedBanRecord(base.Uri, *id, &error);
  if (!record && !error.empty()) return Fail(error);
  if (!record) {
    std::printf("no record %lld\n", static_cast<long long>(*id));
    return 1;
  }
  std::vector<TBanRecord> history;
  if (!History(base, record->Identifier, history, &error)) return Fail(error);
  if (request.Json) {
    std::printf("%s\n", BanDetailsJson(*record, history, platform::UnixSeconds()).c_str());
    return 0;
  }
  const std::vector<std::pair<std::string, std::string>> fields{
      {"Record", std::to_string(record->Id)},  {"Identifier", Shown(record->Identifier)},
      {"Player", Shown(record->Name)},         {"Address", Shown(record->Address)},
      {"Reason", Shown(record->Reason)},       {"Made (UTC)", When(record->MadeAt)},
      {"Ends (UTC)", When(record->EndsAt)},    {"State", StateText(*record)},
      {"Origin", OriginText(*record)},         {"Server", Shown(record->Server)}};
  for (const auto& [label, value] : fields) std::printf("%-12s%s\n", (label + ":").c_str(), value.c_str());
  std::printf("Evidence:%s\n", record->Evidence.empty() ? " none" : "");
  for (const std::string& path : record->Evidence) std::printf("  %s\n", Shown(ScreenRoot() + path).c_str());
  std::erase_if(history, [&](const TBanRecord& other) { return other.Id == record->Id; });
  std::printf("Other bans of this identifier:%s\n", history.empty() ? " none" : "");
  if (!history.empty()) PrintTable(history);
  return 0;
}

int HistoryOf(TBase& base, const TBanToolRequest& request) {
  std::vector<TBanRecord> list;
  std::string error;
  if (!History(base, request.Argument, list, &error)) return Fail(error);
  if (request.Json) {
    TBanPage page{list, static_cast<int64_t>(list.size())};
    TBanQuery all{"", TBanQuery::Which::All, 1, static_cast<int>(std::max<size_t>(1, list.size()))};
    std::printf("%s\n", BanPageJson(page, all, platform::UnixSeconds()).c_str());
    return 0;
  }
  if (list.empty()) {
    std::printf("no ban of \"%s\" on record\n", Shown(request.Argument).c_str());
    return 1;
  }
  PrintTable(list);
  return 0;
}

// The line every ban and lift of the tool leaves in the full log.
void LogLine(const std::string& message) {
  std::string error;
  if (!AppendToFullLog(message, &error)) Warn("not in the full log (" + error + ")");
}

int Ban(TBase& base, const TBanToolRequest& request) {
  if (request.Argument.empty() || request.Argument.size() > kIdentifierChars) {
    return Fail("an identifier has 1 to " + std::to_string(kIdentifierChars) + " bytes");
  }
  TBanRecord record;
  record.Identifier = request.Argument;
  record.Name = request.Name.substr(0, kNameChars);
  record.Reason = request.Reason.substr(0, kLogFieldChars);
  record.MadeAt = platform::UnixSeconds();
  record.EndsAt = request.Minutes == 0 ? 0 : record.MadeAt + int64_t{request.Minutes} * 60;
  record.Origin = BanOrigin::CommandLine;
  record.ByName = platform::RealUserName();
  record.Server = ServerName();
  std::string error;
  if (!base.Uri.empty()) {
    if (!RecordSharedBan(base.Uri, record, &error)) return Fail(error);
  } else {
    // The file first: it is what turns the player away; a record that cannot
    // be written is made as "imported" by the next start or tool instead.
    if (!TBanFile().AppendBanRecord(request.Minutes, record.Identifier)) return Fail("cannot write " + BanBasePath());
    if (!base.Records.Add(record, &error)) Warn("the ban is in force, but its record is not written (" + error + ")");
  }
  const std::string span = request.Minutes == 0 ? "for ever" : "for " + MinutesText(request.Minutes);
  std::printf("banned \"%s\" %s\n", Shown(record.Identifier).c_str(), span.c_str());
  LogLine("Ban of ID " + record.Identifier + " (" + span + ") made with acserver-bans by " + record.ByName + ": " +
          record.Reason);
  return 0;
}

int Lift(TBase& base, const TBanToolRequest& request) {
  const TBanLift lift{platform::RealUserName(), "command line", request.Reason.substr(0, kLogFieldChars)};
  LiftResult result;
  if (!base.Uri.empty()) {
    result = LiftSharedBan(base.Uri, request.Argument, lift);
  } else {
    result = TBanFile().Lift(request.Argument);
    std::string error;
    if (result.Error.empty() && !base.Records.Lift(request.Argument, lift, platform::UnixSeconds(), &error)) {
      Warn("the ban is lifted, but its record is not (" + error + ")");
    }
  }
  if (!result.Error.empty()) return Fail(result.Error);
  if (result.Removed == 0) {
    std::printf("no ban for \"%s\"\n", Shown(request.Argument).c_str());
    return 1;
  }
  std::printf("lifted the ban of \"%s\"\n", Shown(request.Argument).c_str());
  LogLine("Ban of ID " + request.Argument + " lifted with acserver-bans by " + lift.By + ": " + lift.Reason);
  return 0;
}

}  // namespace

bool ParseBanToolAction(const std::string& word, BanToolAction* action) {
  static const std::pair<const char*, BanToolAction> kWords[] = {{"list", BanToolAction::List},
                                                                  {"show", BanToolAction::Show},
                                                                  {"history", BanToolAction::History},
                                                                  {"ban", BanToolAction::Ban},
                                                                  {"lift", BanToolAction::Lift}};
  for (const auto& [name, value] : kWords) {
    if (word == name) {
      *action = value;
      return true;
    }
  }
  return false;
}

int RunBanTool(const TBanToolRequest& request) {
  TBase base;
  std::string error;
  if (!OpenBase(base, &error)) return Fail(error);
  switch (request.What) {
    case BanToolAction::List:
      return List(base, request);
    case BanToolAction::Show:
      return Show(base, request);
    case BanToolAction::History:
      return HistoryOf(base, request);
    case BanToolAction::Ban:
      return Ban(base, request);
    case BanToolAction::Lift:
      return Lift(base, request);
    case BanToolAction::Help:
    case BanToolAction::Version:
      break;
  }
  return 0;
}
