#include "state/time_limited_call.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "state/error_text.h"

namespace quillmarsh {
namespace {

// What the thread reports; shared, so that a call given up on still has
// somewhere to write.
struct Outcome {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  uint32_t error = 0;
};

uint32_t CallCatching(platform::TerminalServer& server,
                      const std::function<uint32_t(platform::TerminalServer&)>& call) {
  try {
    return call(server);
  } catch (...) {
    return kUnexpectedFailure;
  }
}

}  // namespace

TimeLimitedResult CallWithinTimeLimit(std::shared_ptr<platform::TerminalServer> server,
                                      std::function<uint32_t(platform::TerminalServer&)> call,
                                      std::chrono::milliseconds time_limit) {
  auto outcome = std::make_shared<Outcome>();
  try {
    std::thread([server, call, outcome] {
      const uint32_t error = CallCatching(*server, call);
      std::lock_guard lock(outcome->mutex);
      outcome->error = error;
      outcome->done = true;
      outcome->finished.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return {CallCatching(*server, call), false};
  }
  std::unique_lock lock(outcome->mutex);
  if (!outcome->finished.wait_for(lock, time_limit, [&outcome] { return outcome->done; })) {
    return {platform::kErrorTimeout, true};
  }
  return {outcome->error, false};
}

}  // namespace quillmarsh
