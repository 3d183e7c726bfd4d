#include "sessions/wait_empty.h"

#include <optional>
#include <string>

#include "sessions/session_scan.h"
#include "state/text.h"
#include "state/what_if.h"

namespace quillmarsh::sessions {
namespace {

constexpr uint32_t kLongestWaitMinutes = 1440;
constexpr uint32_t kWaitMilliseconds = 10000;
constexpr uint32_t kWaitsPerMinute = 6;

// The sessions in use now; nullopt when the server could not be asked (the
// scan has logged why).
std::optional<uint32_t> SessionsInUse(State& state) {
  bool counted = false;
  uint32_t in_use = 0;
  ScanOptions options;
  options.state_bound = 4;
  options.own_session_rule = OwnSessionRule::kAlways;
  options.matching = Matching::kByNameOrAll;
  options.target = u"*ALL";
  options.enumeration_failure_tag = "Error WaitEmpty";
  options.lookup_failure_tag = "Error WaitEmpty user";
  options.on_counted = [&counted](uint32_t) { counted = true; };
  options.on_match = [&in_use](const LookedUpSession& session) {
    if (!session.wide_user.empty()) ++in_use;
  };
  RunSessionScan(state, options);
  if (!counted) return std::nullopt;
  return in_use;
}

void Report(State& state, const std::string& line) {
  state.LogInfo(line);
  state.PrintLine(line);
}

}  // namespace

void WaitEmptyCommand(State& state) {
  state.LogInfo("Begin WaitEmpty");
  const int32_t word_index = state.ArgIndex;
  state.ArgIndex += 2;
  std::optional<uint32_t> minutes;
  if (word_index + 1 > state.ParamCount()) {
    state.StopAt(word_index, "a number of minutes must follow");
  } else if (minutes = ParseDecimalInRange(state.ParamStr(word_index + 1), 1, kLongestWaitMinutes);
             !minutes) {
    state.StopAt(word_index + 1, "/WAITEMPTY takes 1 to 1440 minutes");
  }
  // A server that failed its check is not waited for: its scan fails at once.
  const bool reachable = !state.TargetServer.remote() || state.TargetServer.error() == 0;
  if (minutes) state.LogInfo("minutes: " + std::to_string(*minutes));
  if (minutes && !reachable) SessionsInUse(state);
  if (minutes && reachable && !state.SessionEnded) {
    const std::string server = TargetServerName(state);
    std::optional<uint32_t> in_use = SessionsInUse(state);
    if (state.WhatIf) {
      if (in_use == 0u) {
        Report(state, "Empty: " + server);
      } else if (in_use) {
        ReportWhatIf(state, "Wait up to " + std::to_string(*minutes) + " minutes on " + server +
                                ": " + std::to_string(*in_use) + " in use");
      }
      if (in_use) state.ErrorLevel = 2;
    } else {
      bool announced = false;
      bool waited = false;
      for (uint32_t wait = 0; wait < *minutes * kWaitsPerMinute && in_use != 0u; ++wait) {
        if (state.SessionEnded) break;
        if (in_use && !announced) {
          Report(state, "Waiting: " + std::to_string(*in_use) + " in use on " + server);
          announced = true;
        }
        state.System.WriteStdout(".");
        state.System.FlushStdout();
        waited = true;
        state.Server.Sleep(kWaitMilliseconds);
        in_use = SessionsInUse(state);
      }
      if (waited) state.PrintLine("");
      if (in_use == 0u) {
        Report(state, "Empty: " + server);
        state.ErrorLevel = 2;
      } else if (in_use) {
        if (!announced)
          Report(state, "Waiting: " + std::to_string(*in_use) + " in use on " + server);
        Report(state, "Still in use: " + server);
        state.ErrorLevel = 1;
      }
    }
  }
  state.LogInfo("End WaitEmpty");
}

}  // namespace quillmarsh::sessions
