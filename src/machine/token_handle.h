// Small owners for what the token calls hand out: a token handle that is
// closed and a SID that is freed when the owner goes out of scope.
#pragma once

#include "platform/terminal_server.h"

namespace quillmarsh::machine {

class TokenHandle {
 public:
  explicit TokenHandle(platform::TerminalServer& server) : server_(server) {}
  ~TokenHandle() { Close(); }
  TokenHandle(const TokenHandle&) = delete;
  TokenHandle& operator=(const TokenHandle&) = delete;

  // For the call that opens the token; closes a handle held before.
  platform::Handle* Receive() {
    Close();
    return &handle_;
  }
  platform::Handle get() const { return handle_; }

  void Close() {
    if (handle_ != nullptr) server_.CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  platform::TerminalServer& server_;
  platform::Handle handle_ = nullptr;
};

class SidOwner {
 public:
  explicit SidOwner(platform::TerminalServer& server) : server_(server) {}
  ~SidOwner() {
    if (sid_ != nullptr) server_.FreeSid(sid_);
  }
  SidOwner(const SidOwner&) = delete;
  SidOwner& operator=(const SidOwner&) = delete;

  void** Receive() { return &sid_; }
  void* get() const { return sid_; }

 private:
  platform::TerminalServer& server_;
  void* sid_ = nullptr;
};

}  // namespace quillmarsh::machine
