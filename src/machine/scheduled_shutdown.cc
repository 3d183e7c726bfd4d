#include "machine/scheduled_shutdown.h"

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

// The request goes to the server the session commands address; a remote
// one that could not be reached is not asked again.
void LogRemoteServer(State& state) { state.LogInfo("servername: " + state.TargetServer.name()); }

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
  const bool remote = state.TargetServer.remote();
  if (remote) {
    LogRemoteServer(state);
  } else if (RefuseUnlessAdministrator(state)) {
    return;
  } else {
    EnableShutdownPrivilege(state.Server);
  }
  state.LogInfo(std::string(request->announcement) + std::to_string(*minutes) +
                " minutes: " + message);
  const std::u16string machine = state.System.AnsiToUtf16(state.TargetServer.name());
  const uint32_t result =
      state.Server.InitiateShutdownW(remote ? machine.c_str() : nullptr, wide_message.c_str(),
                                     *minutes * 60, request->flags, kShutdownReason);
  ReportShutdownRequest(state, result);
}

void AbortShutdownCommand(State& state) {
  ++state.ArgIndex;
  const bool remote = state.TargetServer.remote();
  if (remote) {
    LogRemoteServer(state);
  } else {
    EnableShutdownPrivilege(state.Server);
  }
  const std::u16string machine = state.System.AnsiToUtf16(state.TargetServer.name());
  const bool aborted = state.Server.AbortSystemShutdownW(remote ? machine.c_str() : nullptr);
  ReportShutdownRequest(state, aborted ? 0 : FailureCode(state.Server.GetLastError()));
}

}  // namespace quillmarsh::machine
