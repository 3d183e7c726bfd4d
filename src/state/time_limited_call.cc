#include "state/time_limited_call.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

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

// A thread given up on stays joinable to the end of the process and is never
// waited for: its call may still wait for its server. No thread is detached:
// with mingw-w64's thread library, a thread detached right after it was
// created, once another detached thread has ended, now and then never runs
// its function or runs it without its state (a time-out or a crash in the
// next server check). Both holders are never destroyed, so that the process
// can end with such a thread still running.
void KeepToTheEnd(std::thread thread) {
  static auto* const mutex = new std::mutex;
  static auto* const threads = new std::vector<std::thread>;
  std::lock_guard lock(*mutex);
  threads->push_back(std::move(thread));
}

}  // namespace

std::vector<TimeLimitedResult> CallAllWithinTimeLimit(
    std::shared_ptr<platform::TerminalServer> server,
    std::vector<std::function<uint32_t(platform::TerminalServer&)>> calls,
    std::chrono::milliseconds time_limit) {
  const auto deadline = std::chrono::steady_clock::now() + time_limit;
  std::vector<TimeLimitedResult> results(calls.size());
  std::vector<std::shared_ptr<Outcome>> outcomes(calls.size());
  std::vector<std::thread> workers(calls.size());
  for (size_t i = 0; i < calls.size(); ++i) {
    auto outcome = std::make_shared<Outcome>();
    try {
      workers[i] = std::thread([server, call = calls[i], outcome] {
        const uint32_t error = CallCatching(*server, call);
        std::lock_guard lock(outcome->mutex);
        outcome->error = error;
        outcome->done = true;
        outcome->finished.notify_all();
      });
      outcomes[i] = std::move(outcome);
    } catch (const std::system_error&) {
      results[i] = {CallCatching(*server, calls[i]), false};
    }
  }
  for (size_t i = 0; i < calls.size(); ++i) {
    const std::shared_ptr<Outcome>& outcome = outcomes[i];
    if (!outcome) continue;
    std::unique_lock lock(outcome->mutex);
    const bool answered =
        outcome->finished.wait_until(lock, deadline, [&outcome] { return outcome->done; });
    const uint32_t error = outcome->error;
    lock.unlock();
    if (!answered) {
      KeepToTheEnd(std::move(workers[i]));
      results[i] = {platform::kErrorTimeout, true};
    } else {
      workers[i].join();
      results[i] = {error, false};
    }
  }
  return results;
}

TimeLimitedResult CallWithinTimeLimit(std::shared_ptr<platform::TerminalServer> server,
                                      std::function<uint32_t(platform::TerminalServer&)> call,
                                      std::chrono::milliseconds time_limit) {
  std::vector<std::function<uint32_t(platform::TerminalServer&)>> calls;
  calls.push_back(std::move(call));
  return CallAllWithinTimeLimit(std::move(server), std::move(calls), time_limit).front();
}

}  // namespace quillmarsh
