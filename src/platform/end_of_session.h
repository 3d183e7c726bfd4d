// The part of the end-of-session handler that every system shares: the
// armed close, run at most once on a thread of its own and waited for a
// bounded time by the system's notification thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace quillmarsh::platform {

class EndOfSessionClose {
 public:
  // Windows ends a process that has not finished with a closed console
  // after 5 seconds; a hung disk must not hold up Ctrl+C either.
  static constexpr std::chrono::milliseconds kLimit{3000};

  // The system calls in on threads of its own until the process has ended,
  // so the one instance is never destroyed.
  static EndOfSessionClose& Instance();

  // False when a close is armed already. `ended` is run first, on the
  // caller's thread of RunWithin, before the close starts.
  bool Arm(std::function<void()> ended, std::function<void()> close);
  // No close starts from now on; waits for one that has started.
  void Disarm();
  // Starts the armed close unless it has started, then waits until it has
  // finished or `limit` has passed.
  void RunWithin(std::chrono::milliseconds limit);

 private:
  EndOfSessionClose() = default;

  std::mutex mutex_;
  std::condition_variable finished_;
  std::function<void()> ended_;
  std::function<void()> close_;
  bool started_ = false;
  bool running_ = false;
};

}  // namespace quillmarsh::platform
