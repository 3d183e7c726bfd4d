// The terminal server that the session commands address. At start and after
// "/SERVER ." it is the local one (the pseudo-handle 0, never closed);
// otherwise it holds the handle WTSOpenServerA gave for the name, until
// another server is chosen or the run ends.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/terminal_server.h"

namespace quillmarsh {

class ServerConnection {
 public:
  explicit ServerConnection(platform::TerminalServer& server) : server_(server) {}
  ~ServerConnection() { Close(); }
  ServerConnection(const ServerConnection&) = delete;
  ServerConnection& operator=(const ServerConnection&) = delete;

  // Closes the handle held, then opens `name` ("." is the local server).
  // 0, or the error code when no handle could be made.
  uint32_t Switch(std::string_view name);
  // Back to the local server; the handle held, if any, is closed.
  void Close();

  bool remote() const { return !name_.empty(); }
  // The remote server's name as given; empty for the local server.
  const std::string& name() const { return name_; }
  // For Terminal Services calls; 0 for the local server, and also for a
  // remote one whose handle could not be made (then see open_error()).
  uintptr_t handle() const { return handle_; }
  uint32_t open_error() const { return open_error_; }

 private:
  platform::TerminalServer& server_;
  std::string name_;
  uintptr_t handle_ = platform::kCurrentServerHandle;
  uint32_t open_error_ = 0;
};

}  // namespace quillmarsh
