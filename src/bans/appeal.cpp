// The names of an appeal's states: what the store keeps and the pages show.
#include "bans/appeal.h"

#include "base/word_table.h"

namespace {

constexpr TWord<AppealState> kStateNames[] = {
    {"open", AppealState::Open},
    {"lifted", AppealState::Lifted},
    {"rejected", AppealState::Rejected},
};

}  // namespace

const char* AppealStateName(AppealState state) { return WordOf(kStateNames, state, "unknown"); }

std::optional<AppealState> ParseAppealState(const std::string& text) { return ValueOf(kStateNames, text); }
