#include "supervision/health_watch.h"

std::optional<THealthChange> THealthWatch::Note(RconHealth health) {
  const bool twice = health == last_;
  last_ = health;
  // The first "answering" is no news: it settles at once, without a change.
  if (settled_ == RconHealth::Unknown && health == RconHealth::Answering) {
    settled_ = health;
    return std::nullopt;
  }
  if (!twice || health == settled_ || health == RconHealth::Unknown) return std::nullopt;
  const THealthChange change{settled_, health};
  settled_ = health;
  return change;
}
