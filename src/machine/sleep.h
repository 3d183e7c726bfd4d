// "/SLEEP X [R]": waits X seconds, or X plus a random number of seconds
// below R, one dot per second.
#pragma once

#include "state/state.h"

namespace quillmarsh::machine {

inline constexpr uint32_t kLongestSleepSeconds = 86'400;

void SleepCommand(State& state);

}  // namespace quillmarsh::machine
