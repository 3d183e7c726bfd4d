#include "state/server_connection.h"

#include <memory>
#include <utility>

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

// The NetBIOS name the machine gives for itself (NetWkstaGetInfo level
// 100); empty when it does not answer one.
std::u16string OwnName(platform::TerminalServer& server, const std::u16string& machine) {
  platform::WkstaInfo100* info = nullptr;
  std::u16string name;
  try {
    if (server.NetWkstaGetInfo(machine.c_str(), 100, &info) == 0 && info != nullptr &&
        info->wki100_computername != nullptr) {
      name = info->wki100_computername;
    }
  } catch (...) {
    name.clear();
  }
  if (info != nullptr) server.NetApiBufferFree(info);
  return name;
}

}  // namespace

uint32_t ServerConnection::Switch(std::string_view name, std::chrono::milliseconds time_limit,
                                  std::u16string wide_name,
                                  const ThisMachineTest& is_this_machine) {
  Close();
  if (name == ".") return 0;
  name_ = name;
  handle_ = server_->WTSOpenServerA(name_.c_str());
  if (handle_ == platform::kCurrentServerHandle) {
    error_ = FailureCode(server_->GetLastError());
  } else {
    error_ = Check(time_limit, std::move(wide_name), is_this_machine);
  }
  return error_;
}

uint32_t ServerConnection::Check(std::chrono::milliseconds time_limit, std::u16string wide_name,
                                 const ThisMachineTest& is_this_machine) {
  // The worker writes the name into a copy it shares: at the limit it is
  // given up on and may still answer.
  auto own_name = std::make_shared<std::u16string>();
  const bool ask_name = !wide_name.empty() && is_this_machine;
  const TimeLimitedResult result = CallWithinTimeLimit(
      server_,
      [handle = handle_, machine = std::move(wide_name), ask_name,
       own_name](platform::TerminalServer& server) {
        if (ask_name) *own_name = OwnName(server, machine);
        return EnumerateOnce(server, handle);
      },
      time_limit);
  check_abandoned_ = result.abandoned;
  if (!result.abandoned && !own_name->empty() && is_this_machine(*own_name)) {
    // This machine: the local server, as "." is.
    Close();
    return 0;
  }
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
