// A lock with a non-blocking attempt, as the log's message and queue locks
// need. The lower-case names let it serve std::unique_lock and
// std::condition_variable_any.
#pragma once

#include <mutex>

namespace quillmarsh::log {

class LogLock {
 public:
  void Acquire() { mutex_.lock(); }
  void Release() { mutex_.unlock(); }
  bool TryAcquire() { return mutex_.try_lock(); }

  void lock() { Acquire(); }
  void unlock() { Release(); }
  bool try_lock() { return TryAcquire(); }

 private:
  std::mutex mutex_;
};

}  // namespace quillmarsh::log
