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

// Sessions still open when the time is up are logged off without asking.
constexpr ScheduledRequest kScheduledRequests[] = {
    {"/REBOOTIN", platform::kShutdownForceOthers | platform::kShutdownRestart, "Restart in "},
    {"/SHUTDOWNIN", platform::kShutdownForceOthers | platform::kShutdownPowerOff, "Power-off in "},
};

// Here: the same administrator check as "/REBOOT" and the shutdown
// privilege, then `request`. On another server: `request`, which that
// server decides on itself.
void Ask(State& state, bool administrator_check, const std::function<uint32_t()>& request) {
  if (state.TargetServer.remote()) {
    ReportShutdownRequest(state, AskRemoteServer(state, request));
    return;
  }
  if (administrator_check && RefuseUnlessAdministrator(state)) return;
  if (state.SessionEnded) return;
  EnableShutdownPrivilege(state.Server);
  ReportShutdownRequest(state, request());
}

// The machine the request goes to: null for this one.
struct MachineName {
  explicit MachineName(State& state)
      : remote(state.TargetServer.remote()),
        name(state.System.AnsiToUtf16(state.TargetServer.name())) {}
  const char16_t* get() const { return remote ? name.c_str() : nullptr; }
  bool remote;
  std::u16string name;
};

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
    wide_message = state.System.AnsiToUtf16(message);
  }
  state.ArgIndex += 3;
  if (request == nullptr || !minutes || wide_message.size() > kLongestShutdownMessage) {
    state.StopRequested = true;
    return;
  }
  Ask(state, true, [&state, &request, &minutes, &message, &wide_message] {
    state.LogInfo(std::string(request->announcement) + std::to_string(*minutes) +
                  " minutes: " + message);
    const MachineName machine(state);
    return state.Server.InitiateShutdownW(machine.get(), wide_message.c_str(), *minutes * 60,
                                          request->flags, kShutdownReason);
  });
}

void AbortShutdownCommand(State& state) {
  ++state.ArgIndex;
  Ask(state, false, [&state] {
    const MachineName machine(state);
    return state.Server.AbortSystemShutdownW(machine.get())
               ? 0
               : FailureCode(state.Server.GetLastError());
  });
}

}  // namespace quillmarsh::machine
