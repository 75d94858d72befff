#include "records/file_records.h"

#include <set>
#include <vector>

#include "game/ban_base.h"
#include "game/text_fields.h"
#include "platform/program_dir.h"

namespace records {

std::string RecordBasePath() { return platform::DataDirectory() + "acserver.db"; }

bool FollowBanFile(TRecordBase& base, int64_t now, int* added, int* ended, std::string* error) {
  std::vector<std::string> lines;
  return ReadBanRecords(lines, error) && FollowBanLines(base, lines, now, added, ended, error);
}

bool FollowBanLines(TRecordBase& base, const std::vector<std::string>& lines, int64_t now, int* added, int* ended,
                    std::string* error) {
  std::set<std::string> inFile;
  for (const std::string& line : lines) inFile.insert(ExtractQuoted(line, 2));
  const std::optional<int> imported = base.Import(lines, now, error);
  if (!imported) return false;
  const std::optional<int> expired = base.ExpireAllBut(inFile, now, error);
  if (!expired) return false;
  if (added) *added = *imported;
  if (ended) *ended = *expired;
  return true;
}

}  // namespace records
