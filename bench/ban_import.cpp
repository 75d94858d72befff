// acserver-bans import of a CSV list of 100,000 bans (identifier, name,
// reason, made, minutes) into an empty data directory: the list read and
// checked, every ban a record of acserver.db and a line of zelk_bans.txt, in
// one transaction with one append. Goal: under 10 s.
//
// Baseline, in the same run: the same rows inserted into a plain SQLite table
// of the same columns, with one prepared statement in one transaction (no
// checks, no indexes, no zelk_bans.txt). The ratio says what the import costs
// beyond the database's own work.
//
//   ban_import [bans, default 100000] [rounds, default 3]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/ban_import.h"
#include "bench_support.h"
#include "platform/program_dir.h"
#include "bans/records/record_base.h"
#include "bans/records/sqlite_handle.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

constexpr int64_t kNow = 1767225600;  // 2026-01-01

std::string List(int count) {
  std::string text = "identifier,name,reason,made,minutes\r\n";
  for (int i = 0; i < count; ++i) {
    text += "STEAM_0:" + std::to_string(i % 2) + ":" + std::to_string(1000003LL * i % 99999989) + ",\"Player, " +
            std::to_string(i) + "\",wallhack seen in demo " + std::to_string(i % 97) + "," +
            std::to_string(kNow - 86400 + i % 3600) + "," + (i % 3 ? "0" : "43200") + "\r\n";
  }
  return text;
}

// The import as acserver-bans does it; seconds, and of them the reading and
// checking of the list in readSeconds.
double Import(const std::string& dir, const std::string& text, size_t expected, double* readSeconds) {
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  records::TRecordBase base;
  std::string error;
  if (!base.Open(dir + "acserver.db", &error)) Die(error);
  const auto start = Clock::now();
  TBanRecord like;
  like.ByName = "bench";
  TBanImport import = ReadBanList(text, BanListKind::Csv, {}, like, kNow);
  if (import.Bans.size() != expected || !import.Bad.empty()) Die("the list did not read whole");
  *readSeconds = SecondsSince(start);
  if (!StoreImportedBans(base, import, &error)) Die(error);
  return SecondsSince(start);
}

// The same rows (read before the clock starts) into a plain table, one
// statement, one transaction; seconds.
double Baseline(const std::string& dir, const std::string& text, size_t expected) {
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::string error;
  std::optional<records::TSqliteDb> db = records::TSqliteDb::Open(dir + "plain.db", &error);
  if (!db || !db->Exec("PRAGMA journal_mode = WAL; CREATE TABLE bans(identifier TEXT, name TEXT, address TEXT, "
                       "reason TEXT, made_at INTEGER, ends_at INTEGER, origin TEXT, by_name TEXT, by_identifier "
                       "TEXT, by_address TEXT, server TEXT, end_kind TEXT, ended_at INTEGER, ended_by TEXT, "
                       "ended_from TEXT, end_reason TEXT)",
                       &error)) {
    Die(error);
  }
  // The rows ready before the clock starts: the baseline is the database's work alone.
  TBanImport rows = ReadBanList(text, BanListKind::Csv, {}, {}, kNow);
  if (rows.Bans.size() != expected) Die("the list did not read whole");
  const auto start = Clock::now();
  if (!db->Exec("BEGIN", &error)) Die(error);
  records::TStatement insert(*db, "INSERT INTO bans VALUES(?, ?, '', ?, ?, ?, 'imported', ?, '', '', '', 'in force', 0, '', '', '')");
  if (!insert.Ok()) Die(insert.Error());
  for (const TBanRecord& ban : rows.Bans) {
    insert.Reset();
    insert.Bind(1, ban.Identifier).Bind(2, ban.Name).Bind(3, ban.Reason).Bind(4, ban.MadeAt).Bind(5, ban.EndsAt);
    if (!insert.Bind(6, ban.ByName).Run()) Die(insert.Error());
  }
  if (!db->Exec("COMMIT", &error)) Die(error);
  return SecondsSince(start);
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(100, std::atoi(argv[1])) : 100000;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  const std::string dir = (std::filesystem::temp_directory_path() / "acserver-bench-import").string() + "/";
  platform::SetDataDirectory(dir);
  const std::string text = List(count);
  std::vector<double> imports, baselines, reads;
  for (int round = 0; round < rounds; ++round) {
    baselines.push_back(Baseline(dir, text, static_cast<size_t>(count)));
    reads.emplace_back();
    imports.push_back(Import(dir, text, static_cast<size_t>(count), &reads.back()));
  }
  const double import = Quantile(imports, 0.5);
  const double baseline = Quantile(baselines, 0.5);
  std::printf("import of %d bans from CSV (median of %d rounds):\n", count, rounds);
  std::printf("  acserver-bans import            %.2f s  (goal < 10 s: %s)\n", import, import < 10 ? "met" : "MISSED");
  std::printf("    of which reading the list     %.2f s\n", Quantile(reads, 0.5));
  std::printf("  plain SQLite insert, baseline   %.2f s\n", baseline);
  std::printf("  ratio                           %.2f\n", import / baseline);
  std::filesystem::remove_all(dir);
  return 0;
}
