#include "state/server_connection.h"

#include "state/error_text.h"

namespace quillmarsh {
uint32_t ServerConnection::Switch(std::string_view name) {
  Close();
  if (name == ".") return 0;
  name_ = name;
  handle_ = server_.WTSOpenServerA(name_.c_str());
  if (handle_ == platform::kCurrentServerHandle) {
    open_error_ = FailureCode(server_.GetLastError());
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
