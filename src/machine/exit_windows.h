// "/REBOOT", "/REBOOTFORCE", "/SHUTDOWN", "/SHUTDOWNFORCE" and "/LOGOFFME":
// one ExitWindowsEx call each, the server commands only for an elevated
// administrator.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "platform/terminal_server.h"
#include "state/state.h"

namespace quillmarsh::machine {

inline constexpr uint32_t kEwxLogoff = 0;
inline constexpr uint32_t kEwxReboot = 0x02;
inline constexpr uint32_t kEwxForce = 0x04;
inline constexpr uint32_t kEwxPowerOff = 0x08;
// Planned, operating system, reconfiguration.
inline constexpr uint32_t kShutdownReason = 0x80020004;

struct ExitWindowsRequest {
  std::string_view word;
  bool administrator_check;
  uint32_t flags;
  // InitiateShutdownA flags after "/SERVER name"; 0: always local.
  uint32_t remote_flags;
};

// One row per command word. The plain forms ask for EWX_FORCE as well.
// Windows ignores that flag when Terminal Services are enabled, so on a
// session host an application can still delay or veto the request; only
// elsewhere are applications closed without being asked.
std::span<const ExitWindowsRequest> ExitWindowsRequests();

// Enables SeShutdownPrivilege in the process token as far as it can. Best
// effort: without the privilege Windows refuses the request itself, and that
// refusal is what gets reported.
void EnableShutdownPrivilege(platform::TerminalServer& server);

// The command word as the result: an info line and a console line, or for
// a nonzero `result` the word and the error text as a refusal.
void ReportShutdownRequest(State& state, uint32_t result);

// A request to the remote server the session commands address: logs its
// name, then the result of `request`, or without a call the error of a
// server that could not be reached.
uint32_t AskRemoteServer(State& state, const std::function<uint32_t()>& request);

// Reports the refusal and returns true unless the caller is an elevated
// administrator.
bool RefuseUnlessAdministrator(State& state);

// Enables the shutdown privilege as far as it can, then calls ExitWindowsEx.
// 0 when Windows accepted the request, otherwise its error code.
uint32_t RequestExitWindows(platform::TerminalServer& server, uint32_t flags);

// Asks another machine to restart or power off: 0 when it accepted the
// request, otherwise its error code.
uint32_t RequestRemoteShutdown(platform::TerminalServer& server, const std::string& machine,
                               uint32_t flags);

// The handler of every command word in ExitWindowsRequests(). After
// "/SERVER name" the server commands go to that machine, which decides
// itself whether the caller may; "/LOGOFFME" is always local.
void ExitWindowsCommand(State& state);

}  // namespace quillmarsh::machine
