// A call that may block for as long as a remote machine takes to answer,
// made on a thread of its own and waited for at most a time limit, so that
// one dead server costs the run one wait and no more.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/terminal_server.h"

namespace quillmarsh {

struct TimeLimitedResult {
  // The call's result (0 or an error code), or kErrorTimeout.
  uint32_t error = 0;
  // The call did not answer in time and may still be under way: what it
  // uses must stay valid, so `call` owns copies of everything it reads.
  bool abandoned = false;
};

// Runs `call` on a thread of its own that shares ownership of `server`.
// Without a thread to spare, the call is made here and waited for.
TimeLimitedResult CallWithinTimeLimit(std::shared_ptr<platform::TerminalServer> server,
                                      std::function<uint32_t(platform::TerminalServer&)> call,
                                      std::chrono::milliseconds time_limit);

// Runs every call at the same time, each on a thread of its own that shares
// ownership of `server`, and waits for them up to one deadline `time_limit`
// from now. A call that has not answered by then is given up on as above
// (kErrorTimeout, abandoned). Without a thread to spare, a call is made here
// and waited for.
std::vector<TimeLimitedResult> CallAllWithinTimeLimit(
    std::shared_ptr<platform::TerminalServer> server,
    std::vector<std::function<uint32_t(platform::TerminalServer&)>> calls,
    std::chrono::milliseconds time_limit);

}  // namespace quillmarsh
