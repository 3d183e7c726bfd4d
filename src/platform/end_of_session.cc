#include "platform/end_of_session.h"

#include <thread>
#include <utility>

namespace quillmarsh::platform {

EndOfSessionClose& EndOfSessionClose::Instance() {
  static auto* const instance = new EndOfSessionClose();
  return *instance;
}

bool EndOfSessionClose::Arm(std::function<void()> ended, std::function<void()> close) {
  std::lock_guard lock(mutex_);
  if (close_) return false;
  ended_ = std::move(ended);
  close_ = std::move(close);
  started_ = false;
  return true;
}

void EndOfSessionClose::Disarm() {
  std::unique_lock lock(mutex_);
  close_ = nullptr;
  ended_ = nullptr;
  finished_.wait(lock, [this] { return !running_; });
}

void EndOfSessionClose::RunWithin(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  if (close_ && !started_) {
    started_ = true;
    try {
      if (ended_) ended_();
    } catch (...) {
    }
    running_ = true;
    try {
      // Detached: when it outlasts the limit, the process ends around it.
      std::thread([this, close = close_] {
        try {
          close();
        } catch (...) {
        }
        std::lock_guard done(mutex_);
        running_ = false;
        finished_.notify_all();
      }).detach();
    } catch (...) {
      running_ = false;
    }
  }
  finished_.wait_for(lock, limit, [this] { return !running_; });
}

}  // namespace quillmarsh::platform
