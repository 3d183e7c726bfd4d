// The terminal server that the session commands address. At start and after
// "/SERVER ." it is the local one (the pseudo-handle 0, never closed);
// otherwise it holds the handle WTSOpenServerA gave for the name, until
// another server is chosen or the run ends.
//
// Opening a handle never reaches the server, so a new one is checked at once
// with one enumeration, on a thread of its own and within a time limit: a
// server that is down or sick is found once, reported, and then never asked
// again, instead of keeping every later call waiting.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/terminal_server.h"

namespace quillmarsh {

class ServerConnection {
 public:
  // `server` is shared with the check's thread, which may outlive the run.
  explicit ServerConnection(std::shared_ptr<platform::TerminalServer> server)
      : server_(std::move(server)) {}
  ~ServerConnection() { Close(); }
  ServerConnection(const ServerConnection&) = delete;
  ServerConnection& operator=(const ServerConnection&) = delete;

  // Whether a NetBIOS name that a server gives for itself is this machine's.
  using ThisMachineTest = std::function<bool(std::u16string_view)>;

  // Closes the handle held, then opens and checks `name` ("." is the local
  // server), waiting at most `time_limit` for the check. The check asks the
  // server for its own NetBIOS name too (NetWkstaGetInfo with `wide_name`),
  // in the same time limit: a server that answers a name `is_this_machine`
  // takes is this machine under another name, and the local server. 0, or
  // the error code that makes the server unreachable.
  uint32_t Switch(std::string_view name, std::chrono::milliseconds time_limit,
                  std::u16string wide_name = {}, const ThisMachineTest& is_this_machine = {});
  // Back to the local server; the handle held, if any, is closed, unless a
  // call on it may still be under way.
  void Close();

  bool remote() const { return !name_.empty(); }
  // The remote server's name as given; empty for the local server.
  const std::string& name() const { return name_; }
  // For Terminal Services calls; 0 for the local server, and also for a
  // remote one whose handle could not be made (then see error()).
  uintptr_t handle() const { return handle_; }
  // Nonzero when the remote server could not be opened or failed its
  // check: every later request stands for a failure with this code.
  uint32_t error() const { return error_; }
  // A call on the handle was given up on and may still be under way: the
  // handle is never closed.
  void KeepOpen() { check_abandoned_ = true; }
  // The terminal server, for work on a thread that may outlive the run.
  const std::shared_ptr<platform::TerminalServer>& shared_server() const { return server_; }

 private:
  uint32_t Check(std::chrono::milliseconds time_limit, std::u16string wide_name,
                 const ThisMachineTest& is_this_machine);

  std::shared_ptr<platform::TerminalServer> server_;
  std::string name_;
  uintptr_t handle_ = platform::kCurrentServerHandle;
  uint32_t error_ = 0;
  // A call that did not finish in time (the check, or another one given up
  // on) may still be using the handle.
  bool check_abandoned_ = false;
};

}  // namespace quillmarsh
