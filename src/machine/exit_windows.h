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

// A request to a machine: 0 when it accepted, otherwise its error code.
// It owns copies of everything it reads: on another server it runs on a
// thread of its own, which the run may give up on.
using MachineRequest = std::function<uint32_t(platform::TerminalServer&)>;

// What "/WHATIF" prints instead of a request: `head`, then " on " and the
// server's name when `names_server`, then `tail`.
struct WhatIfText {
  std::string head;
  bool names_server = true;
  std::string tail;
};

// Makes `request` of the machine the commands address and reports it. Here
// it is made as it stands. After "/SERVER name" the name is logged and the
// request runs within "/SERVERTIMEOUT" (1460 at the limit), also when that
// server failed its check: these calls do not go through Terminal Services,
// and a server whose sessions hang is the one that needs a restart. Under
// "/WHATIF" the line of `what_if` is reported instead. `announcement`, when
// given, is logged right before the request is made.
void AskMachine(State& state, const WhatIfText& what_if, const MachineRequest& request,
                std::string_view announcement = {});

// Reports the refusal and returns true unless the caller is an elevated
// administrator.
bool RefuseUnlessAdministrator(State& state);

// Enables the shutdown privilege as far as it can, then calls ExitWindowsEx.
// 0 when Windows accepted the request, otherwise its error code.
uint32_t RequestExitWindows(platform::TerminalServer& server, uint32_t flags,
                            uint32_t reason = kShutdownReason);

// Asks another machine to restart or power off: 0 when it accepted the
// request, otherwise its error code.
uint32_t RequestRemoteShutdown(platform::TerminalServer& server, const std::string& machine,
                               uint32_t flags, uint32_t reason = kShutdownReason);

// The handler of every command word in ExitWindowsRequests(). After
// "/SERVER name" the server commands go to that machine, which decides
// itself whether the caller may; "/LOGOFFME" is always local.
void ExitWindowsCommand(State& state);

}  // namespace quillmarsh::machine
