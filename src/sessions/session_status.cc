#include "sessions/session_status.h"

#include <array>
#include <string>

#include "sessions/session_scan.h"

namespace quillmarsh::sessions {
namespace {

// Errorlevel by state: Active, Connected, ConnectQuery, Shadow, Disconnected.
constexpr std::array<int32_t, 5> kErrorLevelByState = {4, 3, 1, 5, 2};

}  // namespace

void StatusCommand(State& state) {
  state.LogInfo("Begin Status");
  ++state.ArgIndex;
  if (state.ArgIndex > state.ParamCount()) {
    state.StopAt(state.ArgIndex - 1, "a user name or #id must follow");
  } else {
    const std::u16string_view target = state.TrimmedWideParam(state.ArgIndex);
    ++state.ArgIndex;
    state.LogInfo(u"username: " + std::u16string(target));

    ScanOptions options;
    options.state_bound = 5;
    options.own_session_rule = OwnSessionRule::kNever;
    options.matching = Matching::kByName;
    options.target = target;
    options.enumeration_failure_tag = "Error 3a";
    options.lookup_failure_tag = "Error 3b";
    options.on_match = [&state](const LookedUpSession& session) {
      state.ErrorLevel = kErrorLevelByState[session.record.State];
    };
    RunSessionScan(state, options);
  }
  state.LogInfo("End Status");
}

}  // namespace quillmarsh::sessions
