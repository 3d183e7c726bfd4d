#include "machine/exit_windows.h"

#include <array>
#include <string>

#include "machine/admin_check.h"
#include "machine/token_handle.h"
#include "state/error_text.h"
#include "state/what_if.h"

namespace quillmarsh::machine {
namespace {

// InitiateShutdown refuses another machine without SHUTDOWN_FORCE_SELF
// (87), so the remote forms force the asking session too.
constexpr uint32_t kForceAll = platform::kShutdownForceOthers | platform::kShutdownForceSelf;
constexpr uint32_t kRemoteRestart = kForceAll | platform::kShutdownRestart;
constexpr uint32_t kRemotePowerOff = kForceAll | platform::kShutdownPowerOff;

constexpr std::array kRequests = {
    ExitWindowsRequest{"/REBOOT", true, kEwxReboot | kEwxForce, kRemoteRestart},
    ExitWindowsRequest{"/REBOOTFORCE", true, kEwxReboot | kEwxForce, kRemoteRestart},
    ExitWindowsRequest{"/SHUTDOWN", true, kEwxPowerOff | kEwxForce, kRemotePowerOff},
    ExitWindowsRequest{"/SHUTDOWNFORCE", true, kEwxPowerOff | kEwxForce, kRemotePowerOff},
    ExitWindowsRequest{"/LOGOFFME", false, kEwxLogoff, 0},
};

}  // namespace

void EnableShutdownPrivilege(platform::TerminalServer& server) {
  try {
    TokenHandle token(server);
    if (!server.OpenProcessToken(platform::kTokenAdjustPrivileges | platform::kTokenQuery,
                                 token.Receive())) {
      return;
    }
    platform::TokenPrivileges enable{};
    enable.PrivilegeCount = 1;
    enable.Attributes = platform::kSePrivilegeEnabled;
    if (!server.LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &enable.PrivilegeLuid)) {
      return;
    }
    platform::TokenPrivileges previous{};
    uint32_t returned = 0;
    server.AdjustTokenPrivileges(token.get(), false, &enable, sizeof(enable), &previous, &returned);
  } catch (...) {
  }
}

void ReportShutdownRequest(State& state, uint32_t result) {
  if (result == 0) {
    state.LogInfo(state.CurrentCommand);
    state.PrintLine(state.CurrentCommand);
    return;
  }
  state.ReportRefusal(state.CurrentCommand, result);
}

void AskMachine(State& state, const WhatIfText& what_if, const MachineRequest& request,
                std::string_view announcement) {
  if (state.TargetServer.remote()) state.LogInfo("servername: " + state.TargetServer.name());
  if (state.SessionEnded) return;
  if (state.WhatIf) {
    std::string line = what_if.head;
    if (what_if.names_server) line += " on " + TargetServerName(state);
    ReportWhatIf(state, line + what_if.tail);
    return;
  }
  if (!announcement.empty()) state.LogInfo(announcement);
  if (!state.TargetServer.remote()) {
    ReportShutdownRequest(state, request(state.Server));
    return;
  }
  const TimeLimitedResult result = state.CallWithinServerTimeout(request);
  ReportShutdownRequest(state, result.error);
  if (result.abandoned) ReportOutcomeUnknown(state);
}

bool RefuseUnlessAdministrator(State& state) {
  if (IsElevatedAdministrator(state.Server, state.OsMajorVersion)) return false;
  state.LogError("Not an Administrator");
  state.PrintBannerBlock();
  state.PrintLine("Cannot be done. User " + state.UserName +
                  " has no (elevated) Administrator rights");
  return true;
}

std::span<const ExitWindowsRequest> ExitWindowsRequests() { return kRequests; }

uint32_t RequestExitWindows(platform::TerminalServer& server, uint32_t flags, uint32_t reason) {
  EnableShutdownPrivilege(server);
  try {
    if (server.ExitWindowsEx(flags, reason)) return 0;
    return FailureCode(server.GetLastError());
  } catch (...) {
    return kUnexpectedFailure;
  }
}

uint32_t RequestRemoteShutdown(platform::TerminalServer& server, const std::string& machine,
                               uint32_t flags, uint32_t reason) {
  try {
    return server.InitiateShutdownA(machine.c_str(), nullptr, 0, flags, reason);
  } catch (...) {
    return kUnexpectedFailure;
  }
}

void ExitWindowsCommand(State& state) {
  for (const ExitWindowsRequest& request : kRequests) {
    if (request.word != state.CurrentCommand) continue;
    const WhatIfText what_if{state.CurrentCommand, request.remote_flags != 0, {}};
    if (request.remote_flags != 0 && state.TargetServer.remote()) {
      AskMachine(state, what_if,
                 [machine = state.TargetServer.name(), flags = request.remote_flags,
                  reason = state.ShutdownReason](platform::TerminalServer& server) {
                   return RequestRemoteShutdown(server, machine, flags, reason);
                 });
    } else if (!request.administrator_check || !RefuseUnlessAdministrator(state)) {
      AskMachine(
          state, what_if,
          [flags = request.flags, reason = state.ShutdownReason](platform::TerminalServer& server) {
            return RequestExitWindows(server, flags, reason);
          });
    }
    break;
  }
  ++state.ArgIndex;
}

}  // namespace quillmarsh::machine
