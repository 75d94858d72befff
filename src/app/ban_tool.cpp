#include "app/ban_tool.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>
#include <vector>

#include "app/ban_import.h"
#include "app/config_file.h"
#include "base/limits.h"
#include "base/numbers.h"
#include "base/settings.h"
#include "bans/ban_base.h"
#include "rcon/text_fields.h"
#include "log/logs.h"
#include "platform/clock_text.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/program_dir.h"
#include "bans/records/account_base.h"
#include "bans/records/file_records.h"
#include "bans/records/pending_records.h"
#include "bans/records/record_base.h"
#include "screens/screen_receiver.h"
#include "bans/shared/postgres_ban_store.h"
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
// (URI empty) with its record base.
struct TBase {
  std::string Uri;
  records::TRecordBase Records;
};

// Warnings for the lines that bringing the records in line left out.
void WarnNotTaken(const std::vector<std::string>& notes) {
  for (const std::string& note : notes) Warn("not a record, left out: " + note);
}

// Opens the record base of the file base and brings it in line with the file
// (and the records waiting beside it). False with the reason.
bool OpenRecords(TBase& base, std::string* error) {
  if (!base.Records.Open(records::RecordBasePath(), error)) return false;
  std::vector<std::string> notes;
  const bool followed = records::FollowBanFile(base.Records, platform::UnixSeconds(), nullptr, nullptr, error, &notes);
  WarnNotTaken(notes);
  return followed;
}

// Why the record base cannot be written, for the admin.
std::string WhyNot(const std::string& error) {
  return error.find("database is locked") != std::string::npos ? "locked by another process" : error;
}

// "host:rconport", as the server names itself in its records: the same
// name and the same reading of rconport (decimal or hex) as the server's;
// the host alone when zelk_config.txt gives no port the server would take.
std::string ServerName() {
  SettingsRecord settings;
  settings.RconPort = ParseInteger(QuietConfigValue("rconport"), NumberForm::DecimalOrHex).value_or(0);
  return settings.RconPort >= 1 && settings.RconPort <= kMaxRconPort ? ::ServerName(settings) : platform::HostName();
}

// The screenshot root, as the server finds it, for the evidence's full paths.
std::string ScreenRoot() {
  SettingsRecord settings;
  settings.ScreenDir = NormaliseScreenDir(QuietConfigValue("scr_dir"));
  return ScreenRootDirectory(settings);
}

std::string Shown(const std::string& text) { return platform::WithoutControlBytes(text); }

std::string When(int64_t unixSeconds) { return unixSeconds == 0 ? "never" : platform::UtcTimeText(unixSeconds); }

// When a ban was made: unknown for the bans found in an old zelk_bans.txt.
std::string Made(int64_t unixSeconds) { return unixSeconds == 0 ? "unknown" : platform::UtcTimeText(unixSeconds); }

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
    rows.push_back({std::to_string(r.Id), Made(r.MadeAt), Shown(r.Identifier), Shown(r.Name), StateText(r),
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
      {"Reason", Shown(record->Reason)},       {"Made (UTC)", Made(record->MadeAt)},
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

// The text cut to the bytes a record keeps, with a warning when it was longer.
std::string Kept(const std::string& text, size_t bytes, const char* what) {
  if (text.size() <= bytes) return text;
  size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  const std::string cut = text.substr(0, end);
  Warn(std::string("the ") + what + " is longer than " + std::to_string(bytes) + " bytes; kept: " + Shown(cut));
  return cut;
}

// Exit status 2 for an identifier that the ban base cannot hold.
std::optional<int> RefuseIdentifier(const std::string& identifier) {
  const std::string problem = BanIdentifierProblem(identifier);
  if (problem.empty()) return std::nullopt;
  return Fail("the identifier \"" + Shown(identifier) + "\" " + problem + "; nothing changed");
}

// The record of a ban or lift made in the file: into acserver.db, or, when
// that cannot be written, into the records waiting beside it (the server's
// next minute or the next run of a tool writes them).
void RecordChange(TBase& base, const records::TRecordBase::TChange& change, const char* done) {
  // The records that waited go first, so that an older lift cannot end this
  // ban. The rest of the file is left for the server's minute to follow: on a
  // base of 100,000 bans that costs half a second.
  std::string error;
  std::vector<std::string> notes;
  const bool written = base.Records.Open(records::RecordBasePath(), &error) &&
                       records::WritePending(base.Records, &error, &notes) &&
                       (change.IsLift ? base.Records.Lift(change.Identifier, change.Lift, change.At, &error).has_value()
                                      : base.Records.Add(change.Ban, &error).has_value());
  WarnNotTaken(notes);
  if (written) return;
  const std::string why = WhyNot(error);
  std::string failure;
  if (!records::KeepPending(change, &failure)) {
    Warn(std::string("the ban is ") + (change.IsLift ? "lifted" : "in force") + ", but its record is not written (" +
         why + "; " + failure + ")");
    return;
  }
  std::printf("%s in zelk_bans.txt; the record waits for acserver.db (%s) in %s\n", done, why.c_str(),
              records::PendingRecordsPath().c_str());
}

// One line of the console's audit trail for a ban or lift made here, on the
// file base (beside its records); the change stands when it cannot be written.
void AuditTool(const TBase& base, const std::string& action, const std::string& target, const std::string& detail) {
  if (!base.Uri.empty()) return;
  records::TSqliteAccounts trail(records::RecordBasePath());
  std::string error;
  if (!trail.Audit({0, 0, platform::RealUserName(), "command line", action, target, detail}, &error)) {
    std::fprintf(stderr, "acserver-bans: the audit trail could not be written: %s\n", error.c_str());
  }
}

int Ban(TBase& base, const TBanToolRequest& request) {
  if (const std::optional<int> refused = RefuseIdentifier(request.Argument)) return *refused;
  TBanRecord record;
  record.Identifier = request.Argument;
  record.Name = Kept(request.Name, kNameChars, "name");
  record.Reason = Kept(request.Reason, kLogFieldChars, "reason");
  record.MadeAt = platform::UnixSeconds();
  record.EndsAt = request.Minutes == 0 ? 0 : record.MadeAt + int64_t{request.Minutes} * 60;
  record.Origin = BanOrigin::CommandLine;
  record.ByName = platform::RealUserName();
  record.Server = ServerName();
  std::string error;
  const std::string span = request.Minutes == 0 ? "for ever" : "for " + MinutesText(request.Minutes);
  if (!base.Uri.empty()) {
    if (!RecordSharedBan(base.Uri, record, &error)) return Fail(error);
    std::printf("banned \"%s\" %s\n", Shown(record.Identifier).c_str(), span.c_str());
  } else {
    // The file first: it is what turns the player away, and needs nothing of
    // acserver.db.
    if (!AppendBanRecords({{request.Minutes, record.Identifier}}, &error)) {
      return Fail("cannot write " + BanBasePath() + ": " + error);
    }
    std::printf("banned \"%s\" %s\n", Shown(record.Identifier).c_str(), span.c_str());
    RecordChange(base, {false, record, "", {}, 0}, "banned");
  }
  LogLine("Ban of ID " + record.Identifier + " (" + span + ") made with acserver-bans by " + record.ByName + ": " +
          record.Reason);
  AuditTool(base, "ban", record.Identifier, record.Reason + ", " + span);
  return 0;
}

int Lift(TBase& base, const TBanToolRequest& request) {
  if (const std::optional<int> refused = RefuseIdentifier(request.Argument)) return *refused;
  const TBanLift lift{platform::RealUserName(), "command line", Kept(request.Reason, kLogFieldChars, "reason")};
  const LiftResult result = base.Uri.empty() ? TBanFile().Lift(request.Argument)
                                             : LiftSharedBan(base.Uri, request.Argument, lift);
  if (!result.Error.empty()) return Fail(result.Error);
  if (result.Removed == 0) {
    std::printf("no ban for \"%s\"\n", Shown(request.Argument).c_str());
    return 1;
  }
  std::printf("lifted the ban of \"%s\"\n", Shown(request.Argument).c_str());
  if (base.Uri.empty()) RecordChange(base, {true, {}, request.Argument, lift, platform::UnixSeconds()}, "lifted");
  LogLine("Ban of ID " + request.Argument + " lifted with acserver-bans by " + lift.By + ": " + lift.Reason);
  AuditTool(base, "lift", request.Argument, lift.Reason);
  return 0;
}

int Import(TBase& base, const TBanToolRequest& request) {
  if (!base.Uri.empty()) return Fail("import works on the file base; the shared ban base takes acserver-unban --import");
  std::string text;
  std::string error;
  if (!platform::ReadWholeFile(request.Argument, text, &error)) return Fail(error);
  std::vector<std::string> lines;
  if (!ReadBanRecords(lines, &error)) return Fail(error);
  std::set<std::string> banned;
  for (const std::string& line : lines) banned.insert(ExtractQuoted(line, 2));
  TBanRecord like;
  like.Reason = request.Reason.empty() ? "imported from " + request.Argument.substr(request.Argument.rfind('/') + 1)
                                       : request.Reason;
  like.Reason = Kept(like.Reason, kLogFieldChars, "reason");
  like.ByName = platform::RealUserName();
  like.Server = ServerName();
  const int64_t now = platform::UnixSeconds();
  TBanImport import = ReadBanList(text, BanListKindOf(request.Argument), banned, like, now);
  for (const auto* list : {&import.Bad, &import.Duplicates, &import.Notes}) {
    for (const std::string& line : *list) std::printf("%s\n", Shown(line).c_str());
  }
  if (!import.Bans.empty() && !StoreImportedBans(base.Records, import, &error)) {
    return Fail("nothing imported: " + WhyNot(error));
  }
  std::printf("imported %zu ban%s from %s into zelk_bans.txt and acserver.db (%zu bad lines, %zu banned already)\n",
              import.Bans.size(), import.Bans.size() == 1 ? "" : "s", Shown(request.Argument).c_str(),
              import.Bad.size(), import.Duplicates.size());
  LogLine("Bans imported with acserver-bans by " + like.ByName + ": " + std::to_string(import.Bans.size()) +
          " from " + request.Argument);
  return 0;
}

}  // namespace

bool ParseBanToolAction(const std::string& word, BanToolAction* action) {
  static const std::pair<const char*, BanToolAction> kWords[] = {{"list", BanToolAction::List},
                                                                  {"show", BanToolAction::Show},
                                                                  {"history", BanToolAction::History},
                                                                  {"ban", BanToolAction::Ban},
                                                                  {"lift", BanToolAction::Lift},
                                                                  {"import", BanToolAction::Import}};
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
  const std::string banBase = QuietConfigValue("ban_base");
  if (IsSharedBanBase(banBase)) base.Uri = banBase;
  // A ban and a lift change the file first, and need acserver.db only for
  // their records; everything else reads or writes the records.
  const bool fileFirst = request.What == BanToolAction::Ban || request.What == BanToolAction::Lift;
  std::string error;
  if (base.Uri.empty() && !fileFirst && !OpenRecords(base, &error)) {
    return Fail(WhyNot(error));
  }
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
    case BanToolAction::Import:
      return Import(base, request);
    case BanToolAction::Help:
    case BanToolAction::Version:
      break;
  }
  return 0;
}
