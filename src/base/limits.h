// Every fixed limit and number of the system in one place, unit in the name.
#pragma once

#include <chrono>
#include <cstddef>

constexpr const char* kVersionText = "4.0.3";

// Client and player tables.
constexpr int kTableSlots = 33;
constexpr size_t kNameChars = 32;
constexpr size_t kAddressChars = 32;
constexpr size_t kIdentifierChars = 64;
constexpr size_t kStatusMarkChars = 32;
constexpr int kMaxMissedUpdates = 3;

// Command channel.
constexpr int kCommandPortOffset = 1000;  // both listening ports are RconPort + 1000
constexpr int kMaxRconPort = 65535 - kCommandPortOffset;
constexpr int kListenQueue = 15;
constexpr int kMaxConnections = 50;
constexpr size_t kMaxLineBytes = 16384;
// A connection must send its first whole line within this of being accepted.
constexpr int kFirstLineMs = 10000;
// Longer than a registered client can stay silent: after four supervision
// runs without an update its client is dropped anyway.
constexpr int kSilentConnectionMs = 150000;
// A connection younger than this is never closed to make room for a newer
// one: under a flood of silent connections a client whose first line comes a
// moment after its connect would otherwise lose its place to the flood.
constexpr int kNewConnectionGraceMs = 1000;
// TCP keep-alive on every accepted connection: the first probe after this much
// idle time, then one every interval; the connection ends after this many
// unanswered probes (a peer that vanished without a word).
constexpr int kKeepAliveIdleSeconds = 60;
constexpr int kKeepAliveIntervalSeconds = 10;
constexpr int kKeepAliveProbes = 6;
// A reply to a client must leave within this: a client that stops reading
// fills its socket buffer, and past this its connection is treated as lost
// instead of holding a command thread (and whatever it holds) for ever.
constexpr int kCommandSendTimeoutMs = 5000;

// Remote console and UDP.
constexpr size_t kMaxDatagramBytes = 8192;
constexpr size_t kMaxRconDatagramBytes = 515;  // the most a real game server executes
constexpr size_t kRconFullAnswerChars = 1000;  // an answer datagram this long may have more behind it
constexpr int kMaxRconAnswerDatagrams = 8;      // a full 32-player status fits
// The most of a kick's text the game server shows the kicked player
// ("Kicked :<text>"): ReHLDS keeps 255 bytes of it, stock HLDS about as many
// in its disconnect message.
constexpr size_t kKickTextChars = 255;
constexpr size_t kSayTextChars = 63;  // the engine's say shows no more of a text (Host_Say)
// Say fills a 128-byte line with "<hostname> " and the text, so it keeps
// 122 - H bytes of the text under a hostname of H bytes on stock HLDS (124 - H
// on ReHLDS).
constexpr size_t kSayLineRoomChars = 122;
// Shorter say lines are not sent even under a longer hostname: a text cut in
// pieces of a few characters is unreadable anyway, and a hostname of 122
// bytes or more leaves no room at all.
constexpr size_t kMinSayTextChars = 16;
// Taken for the hostname when the game server does not tell it (its answer to
// "hostname" unreadable): a long one, the length at which cut say lines were
// first seen.
constexpr size_t kAssumedHostnameChars = 64;
constexpr int kDefaultRegistryPort = 27015;

// Screenshots.
constexpr size_t kScreenPieceBytes = 30;
constexpr long kMaxScreenBytes = 16777216;  // 16 MiB
constexpr long kMaxScreenTotalBytes = 67108864;  // 64 MiB: all transfers under way together

// Logs.
constexpr size_t kLogFieldChars = 64;            // a client's text in a log line is cut to this
constexpr int kLimitedLogLinesPerMinute = 20;    // error lines caused by one address, per window...
constexpr auto kLogLimitWindow = std::chrono::seconds(60);  // ...of this length
constexpr long long kMaxLogBytes = 67108864;  // 64 MiB: past this the full or the short log is archived
constexpr int kKeptLogArchives = 20;             // newest archives kept; older ones are removed

// Files of the data directory.
constexpr const char* kInstanceLockFile = "acserver.lock";  // held by the running server
constexpr const char* kBanJournalFile = "zelk_bans_journal.txt";  // bans the shared base has not taken yet

// Web console.
constexpr size_t kWebFailuresForThrottle = 5;               // wrong passwords within...
constexpr auto kWebFailureWindow = std::chrono::seconds(60);  // ...this throttle an address...
constexpr auto kWebRetryDelay = std::chrono::seconds(10);     // ...to one attempt per this
constexpr size_t kWebMaxFailuresKept = 4096;  // wrong passwords remembered per record at most
constexpr size_t kWebMaxUsersKept = 1024;     // user names with wrong passwords remembered at most
constexpr size_t kWebLogLines = 200;          // lines of each log shown
constexpr size_t kWebMaxRequestBytes = 16 * 1024;  // a request body (an appeal of 1,000 characters, encoded)
constexpr size_t kWebMaxHeadBytes = 16 * 1024;  // a request head, with the connection's buffers
constexpr unsigned kWebHeadSeconds = 10;        // from a connection (or its last answer) to a whole head
constexpr unsigned kWebIdleSeconds = 15;        // a connection that sends nothing
constexpr unsigned kWebMaxConnections = 1024;   // at once, in all...
constexpr unsigned kWebMaxConnectionsPerAddress = 32;  // ...and from one address (a browser opens about 6)
constexpr auto kWebSessionIdle = std::chrono::hours(12);     // a console session unused this long ends...
constexpr auto kWebSessionLifetime = std::chrono::hours(24 * 7);  // ...and any session this long after its login
constexpr size_t kWebMaxSessions = 64;  // sessions kept at once; a login past it ends the least recently used
constexpr int kWebHistoryPerPage = 50;  // earlier records of an identifier on one page of a record's details

// The public ban list and its appeals (web_public).
constexpr int kPublicPerPageMax = 100;         // bans on one page of the public list, at most
constexpr size_t kAppealTextChars = 1000;      // an appeal's text, in characters
constexpr size_t kAppealContactChars = 100;    // its contact field, in characters
constexpr int kAppealsPerAddressPerHour = 3;   // appeals filed from one address within an hour
constexpr int kMaxOpenAppeals = 1000;          // open appeals in all; more wait until some are answered
constexpr int kAppealsPerPage = 50;            // appeals on one page of the console's Appeals tab

// The ban base file.
constexpr int kBanBaseLockWaitMs = 2000;  // the longest wait for the base's locks

// The shared ban base.
constexpr int kBanBaseConnectSeconds = 3;   // a connection attempt gives up after this
constexpr int kBanBaseStatementMs = 5000;   // a statement is cut off after this
constexpr int kBanBaseRefreshMs = 30000;    // the local copy is refreshed at least this often
constexpr int kBanBaseRetryMs = 2000;       // a database that is down is tried again after this
// A statement for a web request or a tool (the records, the accounts, the
// list of servers) is cut off after this, so a slow base holds none long.
constexpr int kBanBaseQueryMs = 3000;
// A lift waits at most this for the worker's insert of a ban of the same
// identifier to end (the statement's time-out ends it) before it deletes.
constexpr int kBanBaseLiftWaitMs = kBanBaseStatementMs + 1000;

// Settings capacities.
constexpr size_t kClientIdChars = 128;
constexpr size_t kFtpFieldChars = 124;
constexpr size_t kRemotePassChars = 32;
