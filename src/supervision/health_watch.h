// When the game server's health has changed for the admins' chat. The health
// flips at every exchange that fails, and a map change or a lost datagram
// makes one supervision run fail; so a health counts as changed only once
// two supervision runs in a row ended with it. The first "answering" after
// the start settles at once and is no news; a first health that is not
// answering counts as a change from unknown, after two runs like the others.
#pragma once

#include <optional>

#include "rcon/rcon_client.h"

struct THealthChange {
  RconHealth Before = RconHealth::Unknown;
  RconHealth Now = RconHealth::Unknown;
};

class THealthWatch {
 public:
  // The health after a supervision run; the change when it settled on a new one.
  std::optional<THealthChange> Note(RconHealth health);

 private:
  RconHealth settled_ = RconHealth::Unknown;
  RconHealth last_ = RconHealth::Unknown;  // after the run before
};
