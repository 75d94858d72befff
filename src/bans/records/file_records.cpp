#include "bans/records/file_records.h"

#include <set>
#include <vector>

#include "bans/ban_base.h"
#include "rcon/text_fields.h"
#include "platform/program_dir.h"
#include "bans/records/pending_records.h"

namespace records {

std::string RecordBasePath() { return platform::DataDirectory() + "acserver.db"; }

bool FollowBanFile(TRecordBase& base, int64_t now, int* added, int* ended, std::string* error,
                   std::vector<std::string>* notes) {
  std::vector<std::string> lines;
  return ReadBanBaseLines(lines, error) && FollowBanLines(base, lines, now, added, ended, error, notes);
}

bool FollowBanLines(TRecordBase& base, const std::vector<std::string>& lines, int64_t now, int* added, int* ended,
                    std::string* error, std::vector<std::string>* notes) {
  if (!WritePending(base, error, notes)) return false;
  std::set<std::string> inFile;
  for (const std::string& line : lines) {
    if (!line.empty() && line[0] != ';') inFile.insert(ExtractQuoted(line, 2));
  }
  std::vector<std::string> badLines;
  const std::optional<int> imported = base.Import(lines, now, error, &badLines);
  if (!imported) return false;
  for (const std::string& bad : badLines) {
    if (notes) notes->push_back(BanBasePath() + " " + bad);
  }
  const std::optional<int> expired = base.ExpireAllBut(inFile, now, error);
  if (!expired) return false;
  if (added) *added = *imported;
  if (ended) *ended = *expired;
  return true;
}

}  // namespace records
