#pragma once

#include "platform/terminal_server.h"

namespace quillmarsh::sessions {

// Owns one buffer that a Terminal Services call handed out and frees it
// with WTSFreeMemory, at the latest when it goes out of scope.
template <typename T>
class WtsBuffer {
 public:
  explicit WtsBuffer(platform::TerminalServer& server) : server_(server) {}
  ~WtsBuffer() { Free(); }
  WtsBuffer(const WtsBuffer&) = delete;
  WtsBuffer& operator=(const WtsBuffer&) = delete;

  T** address() { return &pointer_; }
  T* get() const { return pointer_; }

  void Free() {
    if (pointer_ != nullptr) {
      server_.WTSFreeMemory(pointer_);
      pointer_ = nullptr;
    }
  }

 private:
  platform::TerminalServer& server_;
  T* pointer_ = nullptr;
};

}  // namespace quillmarsh::sessions
