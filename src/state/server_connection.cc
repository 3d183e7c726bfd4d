#include "state/server_connection.h"

namespace quillmarsh {
namespace {

// ERROR_INVALID_FUNCTION, for a failed open that leaves no error code, so
// that a failure never reads as success.
constexpr uint32_t kUnexpectedFailure = 1;

}  // namespace

uint32_t ServerConnection::Switch(std::string_view name) {
  Close();
  if (name == ".") return 0;
  name_ = name;
  handle_ = server_.WTSOpenServerA(name_.c_str());
  if (handle_ == platform::kCurrentServerHandle) {
    const uint32_t error = server_.GetLastError();
    open_error_ = error != 0 ? error : kUnexpectedFailure;
  }
  return open_error_;
}

void ServerConnection::Close() {
  if (handle_ != platform::kCurrentServerHandle) server_.WTSCloseServer(handle_);
  handle_ = platform::kCurrentServerHandle;
  name_.clear();
  open_error_ = 0;
}

}  // namespace quillmarsh
