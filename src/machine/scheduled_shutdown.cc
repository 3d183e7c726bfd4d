#include "machine/scheduled_shutdown.h"

#include <functional>
#include <optional>
#include <string>

#include "machine/exit_windows.h"
#include "state/error_text.h"
#include "state/text.h"

namespace quillmarsh::machine {
namespace {

struct ScheduledRequest {
  std::string_view word;
  uint32_t flags;
  std::string_view announcement;
};

// Sessions still open when the time is up are logged off without asking,
// the one that asked included: without SHUTDOWN_FORCE_SELF an unsaved
// document there could stall the restart (Windows' own "shutdown /t" with a
// time implies /f as well).
constexpr uint32_t kForceAll = platform::kShutdownForceOthers | platform::kShutdownForceSelf;
constexpr ScheduledRequest kScheduledRequests[] = {
    {"/REBOOTIN", kForceAll | platform::kShutdownRestart, "Restart in "},
    {"/SHUTDOWNIN", kForceAll | platform::kShutdownPowerOff, "Power-off in "},
};

// Here: the administrator check when asked for (as "/REBOOT" has), then the
// shutdown privilege, then `call`. On another server: `call`, which that
// server decides on itself.
void Ask(State& state, bool administrator_check, const WhatIfText& what_if,
         const MachineRequest& call, std::string_view announcement = {}) {
  const bool remote = state.TargetServer.remote();
  if (!remote && administrator_check && RefuseUnlessAdministrator(state)) return;
  AskMachine(
      state, what_if,
      [remote, call](platform::TerminalServer& server) {
        if (!remote) EnableShutdownPrivilege(server);
        return call(server);
      },
      announcement);
}

}  // namespace

void ScheduledShutdownCommand(State& state) {
  const ScheduledRequest* request = nullptr;
  for (const ScheduledRequest& candidate : kScheduledRequests) {
    if (candidate.word == state.CurrentCommand) request = &candidate;
  }
  std::optional<uint32_t> minutes;
  std::string message;
  std::u16string wide_message;
  if (state.OperandsFollow(2)) {
    minutes = ParseDecimalInRange(state.ParamStr(state.ArgIndex + 1), 1, kLongestCountdownMinutes);
    message = Trim(state.ParamStr(state.ArgIndex + 2));
    // As typed: the ANSI form may have lost characters.
    wide_message = state.TrimmedWideParam(state.ArgIndex + 2);
  }
  const bool operands = state.OperandsFollow(2);
  const int32_t word_index = state.ArgIndex;
  state.ArgIndex += 3;
  if (!operands) {
    state.StopAt(word_index, "a number of minutes and a message must follow");
    return;
  }
  if (request == nullptr || !minutes) {
    state.StopAt(word_index + 1, state.CurrentCommand + " takes 1 to " +
                                     std::to_string(kLongestCountdownMinutes) + " minutes");
    return;
  }
  if (wide_message.size() > kLongestShutdownMessage) {
    state.StopAt(word_index + 2, "the message has more than " +
                                     std::to_string(kLongestShutdownMessage) + " characters");
    return;
  }
  const std::string announcement =
      std::string(request->announcement) + std::to_string(*minutes) + " minutes";
  const std::u16string machine = state.TargetMachineName();
  Ask(
      state, true, {announcement, true, ": " + message},
      [machine, wide_message, grace = *minutes * 60, flags = request->flags,
       reason = state.ShutdownReason](platform::TerminalServer& server) {
        return server.InitiateShutdownW(MachineOrNull(machine), wide_message.c_str(), grace, flags,
                                        reason);
      },
      announcement + ": " + message);
}

void AbortShutdownCommand(State& state) {
  ++state.ArgIndex;
  const std::u16string machine = state.TargetMachineName();
  Ask(state, false, {"/ABORTSHUTDOWN", true, {}}, [machine](platform::TerminalServer& server) {
    return server.AbortSystemShutdownW(MachineOrNull(machine)) ? 0
                                                               : FailureCode(server.GetLastError());
  });
}

}  // namespace quillmarsh::machine
