#include "state/server_connection.h"

#include "state/error_text.h"
#include "state/time_limited_call.h"

namespace quillmarsh {
namespace {

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
  const TimeLimitedResult result = CallWithinTimeLimit(
      server_,
      [handle = handle_](platform::TerminalServer& server) {
        return EnumerateOnce(server, handle);
      },
      time_limit);
  check_abandoned_ = result.abandoned;
  return result.error;
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
