// The records beside the file base: zelk_bans.txt decides who is banned, and
// its records in acserver.db follow it. A ban that reached the file without a
// record (made by an older server, by hand, or while the record base could not
// be written) gets one of origin imported; a record whose identifier left the
// file (its minutes counted down, or a tool lifted it without a record) ends
// as expired.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bans/records/record_base.h"

namespace records {

// The path of the record base in the data directory.
std::string RecordBasePath();

// Brings the records in force in line with zelk_bans.txt: first the records
// that tools left waiting (pending_records.h), then the file's bans without a
// record, then the ends. How many records it added and ended in added and
// ended (either may be null); the lines of either file it could not take in
// notes ("<path> line <n>: <text>"), when given. False with the reason when a
// file or the base could not be read or written (a step that failed changed
// nothing; calling again finishes the work). Thread safe.
bool FollowBanFile(TRecordBase& base, int64_t now, int* added, int* ended, std::string* error,
                   std::vector<std::string>* notes = nullptr);
// The same with the file's lines read already (ReadBanBaseLines).
bool FollowBanLines(TRecordBase& base, const std::vector<std::string>& lines, int64_t now, int* added, int* ended,
                    std::string* error, std::vector<std::string>* notes = nullptr);

}  // namespace records
