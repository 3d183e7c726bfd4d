#include "machine/exit_windows.h"

#include <array>
#include <string>

#include "machine/admin_check.h"
#include "machine/token_handle.h"

namespace quillmarsh::machine {
namespace {

// ERROR_INVALID_FUNCTION, reported when ExitWindowsEx fails without an
// error code or ends in an exception, so that a failure never reads as 0.
constexpr uint32_t kUnexpectedFailure = 1;

constexpr uint32_t kRemoteRestart = platform::kShutdownForceOthers | platform::kShutdownRestart;
constexpr uint32_t kRemotePowerOff = platform::kShutdownForceOthers | platform::kShutdownPowerOff;

constexpr std::array kRequests = {
    ExitWindowsRequest{"/REBOOT", true, kEwxReboot | kEwxForce, kRemoteRestart},
    ExitWindowsRequest{"/REBOOTFORCE", true, kEwxReboot | kEwxForce, kRemoteRestart},
    ExitWindowsRequest{"/SHUTDOWN", true, kEwxPowerOff | kEwxForce, kRemotePowerOff},
    ExitWindowsRequest{"/SHUTDOWNFORCE", true, kEwxPowerOff | kEwxForce, kRemotePowerOff},
    ExitWindowsRequest{"/LOGOFFME", false, kEwxLogoff, 0},
};

// Best effort: without the privilege Windows refuses the request itself,
// and that refusal is what gets reported.
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

void Report(State& state, uint32_t result) {
  if (result == 0) {
    state.LogInfo(state.CurrentCommand);
    state.PrintLine(state.CurrentCommand);
    return;
  }
  state.ReportRefusal(state.CurrentCommand, result);
}

}  // namespace

std::span<const ExitWindowsRequest> ExitWindowsRequests() { return kRequests; }

uint32_t RequestExitWindows(platform::TerminalServer& server, uint32_t flags) {
  EnableShutdownPrivilege(server);
  try {
    if (server.ExitWindowsEx(flags, kShutdownReason)) return 0;
    const uint32_t error = server.GetLastError();
    return error != 0 ? error : kUnexpectedFailure;
  } catch (...) {
    return kUnexpectedFailure;
  }
}

uint32_t RequestRemoteShutdown(platform::TerminalServer& server, const std::string& machine,
                               uint32_t flags) {
  try {
    return server.InitiateShutdownA(machine.c_str(), nullptr, 0, flags, kShutdownReason);
  } catch (...) {
    return kUnexpectedFailure;
  }
}

void ExitWindowsCommand(State& state) {
  for (const ExitWindowsRequest& request : kRequests) {
    if (request.word != state.CurrentCommand) continue;
    if (request.remote_flags != 0 && state.TargetServer.remote()) {
      state.LogInfo("servername: " + state.TargetServer.name());
      Report(state,
             RequestRemoteShutdown(state.Server, state.TargetServer.name(), request.remote_flags));
    } else if (request.administrator_check &&
               !IsElevatedAdministrator(state.Server, state.OsMajorVersion)) {
      state.LogError("Not an Administrator");
      state.PrintBannerBlock();
      state.PrintLine("Cannot be done. User " + state.UserName +
                      " has no (elevated) Administrator rights");
    } else {
      Report(state, RequestExitWindows(state.Server, request.flags));
    }
    break;
  }
  ++state.ArgIndex;
}

}  // namespace quillmarsh::machine
