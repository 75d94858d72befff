// Records waiting beside the record base: when a tool (acserver-bans,
// acserver-unban) has made a ban or a lift in zelk_bans.txt but cannot write
// its record, because acserver.db is locked by another process or broken, it
// appends the record to acserver.db.pending in the data directory, and whoever
// next brings the records in line with the file (the server's minute, the next
// tool run: FollowBanFile) writes them, in their order, and empties the file.
//
// The file is text, one change a line ending in CR LF, the fields separated by
// tabs, with tab, line feed, carriage return and backslash written as \t \n \r
// \\ (as in the shared base's journal):
//   ban  <made> <ends> <origin> <identifier> <name> <address> <reason> <by name> <by identifier> <by address> <server>
//   lift <at> <identifier> <by> <from> <reason>
// Times are Unix seconds (UTC), <ends> 0 for a ban for ever, <origin> a name
// of BanOriginName. Appends and the read-and-empty are serialised by the lock
// file acserver.db.pending.lock, so no line is taken twice or lost.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bans/ban_record.h"
#include "bans/records/record_base.h"

namespace records {

std::string PendingRecordsPath();

// The file's line of a change, and back (nullopt: not a line of this form).
std::string PendingLine(const TRecordBase::TChange& change);
std::optional<TRecordBase::TChange> ChangeOfPendingLine(const std::string& line);

// Appends the change to the file, creating it when missing. False with the
// reason.
bool KeepPending(const TRecordBase::TChange& change, std::string* error);

// Writes the changes of the file into the base as one step and removes the
// file. How many there were (0 without a file); nullopt with the reason when
// they could not be written (the file then stays as it was). Lines of another
// form are left out, each named in badLines (when given).
std::optional<int> WritePending(TRecordBase& base, std::string* error, std::vector<std::string>* badLines = nullptr);

}  // namespace records
