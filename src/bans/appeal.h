// A banned player's appeal against a ban, and where appeals are kept. Any
// visitor of the public ban list may file one for a ban in force; an admin
// answers it on the web console by lifting the ban or by rejecting the
// appeal with a reason, and the answer shows on the public list. Plain data
// and one small interface; the local record base (acserver.db) keeps them,
// or the shared ban base when the server uses one.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

enum class AppealState {
  Open,      // waits for an answer
  Lifted,    // answered: the ban was lifted
  Rejected,  // answered: the ban stands, for the reason given
};

// "open", "lifted", "rejected"; and back (nullopt: unknown text).
const char* AppealStateName(AppealState state);
std::optional<AppealState> ParseAppealState(const std::string& text);

struct TAppeal {
  int64_t Id = 0;      // the store's number; 0 before it is stored
  int64_t BanId = 0;   // the ban record appealed against
  std::string Identifier;  // the ban's identifier, and the banned player's name, as the record had them
  std::string Name;
  int64_t MadeAt = 0;  // Unix seconds, UTC
  std::string Text;     // the player's words
  std::string Contact;  // how to reach the player (for the admins only)
  std::string Address;  // where it was sent from (the throttle; for the admins only)
  AppealState State = AppealState::Open;
  int64_t AnsweredAt = 0;
  std::string AnsweredBy;  // the admin's account
  std::string Answer;      // the admin's reason
};

// What bounds the appeals a store takes.
struct TAppealBounds {
  int PerAddressPerHour = 3;  // appeals from one address within an hour
  int MaxOpen = 1000;         // open appeals in all
};

// How a filing ended.
enum class AppealFiling {
  Filed,
  OpenAlready,  // the ban has an open appeal
  Throttled,    // the address filed PerAddressPerHour within the last hour
  TooMany,      // MaxOpen appeals are open
  Failed,       // the store could not be read or written (the reason in error)
};

// A page of appeals, newest first, and how many match in all.
struct TAppealPage {
  std::vector<TAppeal> Appeals;
  int64_t Total = 0;
};

// Where appeals are kept. Every call answers failure with the reason in
// *error (never null). Thread safe.
class TAppealStore {
 public:
  virtual ~TAppealStore() = default;
  // Stores appeal (Id, State and the answer are ignored; Id is set) unless
  // a bound stops it. The bounds are judged and the appeal stored as one
  // step, so that two filings at once cannot both pass a bound.
  virtual AppealFiling File(TAppeal& appeal, const TAppealBounds& bounds, std::string* error) = 0;
  // nullopt with error empty: no such appeal.
  virtual std::optional<TAppeal> Get(int64_t id, std::string* error) = 0;
  // The newest appeal of each of the bans that has one.
  virtual bool NewestOfBans(const std::vector<int64_t>& banIds, std::map<int64_t, TAppeal>& newest,
                            std::string* error) = 0;
  // One page (from 1) of the open appeals (answered false) or the answered
  // ones (true), or of all (nullopt), newest first.
  virtual bool List(std::optional<bool> answered, int page, int perPage, TAppealPage& out, std::string* error) = 0;
  // Answers an open appeal (state Lifted or Rejected); false with error
  // empty when it is not open (answered meanwhile, or no such appeal).
  virtual bool Answer(int64_t id, AppealState state, const std::string& by, const std::string& answer, int64_t at,
                      std::string* error) = 0;
};
