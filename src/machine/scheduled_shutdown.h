// "/REBOOTIN minutes message" and "/SHUTDOWNIN minutes message": a restart or
// power-off that the server itself counts down, showing the message and the
// time left to the people on it; "/ABORTSHUTDOWN" cancels such a countdown.
// After "/SERVER name" they go to that machine.
#pragma once

#include "state/state.h"

namespace quillmarsh::machine {

inline constexpr uint32_t kLongestCountdownMinutes = 14400;
inline constexpr size_t kLongestShutdownMessage = 512;

void ScheduledShutdownCommand(State& state);
void AbortShutdownCommand(State& state);

}  // namespace quillmarsh::machine
