#include "state/server_connection.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "state/error_text.h"

namespace quillmarsh {
namespace {

// What the check's thread reports; shared, so that a check given up on
// still has somewhere to write.
struct CheckOutcome {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  uint32_t error = 0;
};

uint32_t EnumerateOnce(platform::TerminalServer& server, uintptr_t handle) {
  try {
    platform::WtsSessionInfo* sessions = nullptr;
    uint32_t count = 0;
    const bool enumerated = server.WTSEnumerateSessionsA(handle, 0, 1, &sessions, &count);
    const uint32_t error = enumerated ? 0 : FailureCode(server.GetLastError());
    if (sessions != nullptr) server.WTSFreeMemory(sessions);
    return error;
  } catch (...) {
    return kUnexpectedFailure;
  }
}

}  // namespace

uint32_t ServerConnection::Switch(std::string_view name, std::chrono::milliseconds time_limit) {
  Close();
  if (name == ".") return 0;
  name_ = name;
  handle_ = server_->WTSOpenServerA(name_.c_str());
  if (handle_ == platform::kCurrentServerHandle) {
    error_ = FailureCode(server_->GetLastError());
  } else {
    error_ = Check(time_limit);
  }
  return error_;
}

uint32_t ServerConnection::Check(std::chrono::milliseconds time_limit) {
  auto outcome = std::make_shared<CheckOutcome>();
  try {
    // The thread owns everything it touches: the server and the outcome.
    std::thread([server = server_, handle = handle_, outcome] {
      const uint32_t error = EnumerateOnce(*server, handle);
      std::lock_guard lock(outcome->mutex);
      outcome->error = error;
      outcome->done = true;
      outcome->finished.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the check waits as long as the server does.
    return EnumerateOnce(*server_, handle_);
  }
  std::unique_lock lock(outcome->mutex);
  if (!outcome->finished.wait_for(lock, time_limit, [&outcome] { return outcome->done; })) {
    check_abandoned_ = true;
    return platform::kErrorTimeout;
  }
  return outcome->error;
}

void ServerConnection::Close() {
  // A handle whose check is still under way is left to the end of the
  // process: closing it could pull it from under that call.
  if (handle_ != platform::kCurrentServerHandle && !check_abandoned_) {
    server_->WTSCloseServer(handle_);
  }
  handle_ = platform::kCurrentServerHandle;
  name_.clear();
  error_ = 0;
  check_abandoned_ = false;
}

}  // namespace quillmarsh
