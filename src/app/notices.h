// The notices of the events the admins' chat is told of (notify/notice.h),
// made from the records of the rooms that produce them.
#pragma once

#include <cstdint>
#include <string>

#include "bans/ban_record.h"
#include "notify/notice.h"
#include "supervision/health_watch.h"

// A ban carried out here, from its record as written.
TNotice BanNotice(const TBanRecord& ban);
// A lift that ended `removed` bans of identifier, made on server at the moment at.
TNotice LiftNotice(const std::string& server, const std::string& identifier, const TBanLift& lift, int removed,
                   int64_t at);
// The game server's health settled on a new one.
TNotice HealthNotice(const std::string& server, const THealthChange& change, int64_t at);
