#include "actions/session_action.h"

#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/session_states.h"
#include "sessions/session_details.h"
#include "sessions/session_scan.h"
#include "sessions/wts_buffer.h"
#include "state/error_text.h"
#include "state/text.h"
#include "state/what_if.h"

namespace quillmarsh::actions {
namespace {

constexpr uint32_t kAnyState = 0xFFFFFFFF;

// What sets "/DISCONNECT", "/LOGOFF" and "/LOGOFFDISCONNECTED" apart.
struct SessionAction {
  bool (platform::TerminalServer::*call)(uintptr_t server, uint32_t session_id, bool wait);
  uint32_t state_bound;
  // Matching sessions in another state are passed over.
  uint32_t only_state;
  // Whether "*me" names the caller's own session.
  bool me_is_own_session;
  std::string_view begin_line;
  std::string_view end_line;
  std::string_view me_done;
  std::string_view me_refused;
  std::string_view done_prefix;
  std::string_view refused_prefix;
  // The action's word in "What if: ..." lines.
  std::string_view what_if_word;
  std::string_view enumeration_failure_tag;
  std::string_view lookup_failure_tag;
  // "*ALL" passes over sessions without a user, such as the services
  // session, which is always disconnected and can never be logged off.
  bool all_means_users = false;
  // The state is read again right before the call: a user who came back
  // since the enumeration is left alone.
  bool recheck_state = false;
};

constexpr SessionAction kDisconnect = {
    &platform::TerminalServer::WTSDisconnectSession,
    4,
    kAnyState,
    true,
    "Begin Disconnect",
    "End Disconnect",
    "Disconnect me OK",
    "Disconnect me Not OK",
    "Disconnect OK: ",
    "Disconnect Not OK: ",
    "Disconnect",
    "Error 1a",
    "Can not look up account info",
};

constexpr SessionAction kLogoff = {
    &platform::TerminalServer::WTSLogoffSession,
    5,
    kAnyState,
    true,
    "Begin Logoff",
    "End Logoff",
    "Logoff me OK",
    "Logoff me Not OK",
    "Logoff OK: ",
    "Logoff Not OK: ",
    "Logoff",
    "Error 2a",
    "Error 2b",
};

// "/LOGOFF" for sessions that are disconnected.
constexpr SessionAction kLogoffDisconnected = {
    &platform::TerminalServer::WTSLogoffSession,
    5,
    platform::kStateDisconnected,
    false,
    "Begin LogoffDisconnected",
    "End LogoffDisconnected",
    "Logoff me OK",
    "Logoff me Not OK",
    "Logoff OK: ",
    "Logoff Not OK: ",
    "Logoff",
    "Error 2a",
    "Error 2b",
    true,
    true,
};

// Whether the session is still in `expected_state`; logs why not.
bool StillInState(State& state, const sessions::LookedUpSession& session, uint32_t expected_state) {
  sessions::WtsBuffer<char> answer(state.Server);
  uint32_t bytes = 0;
  if (!state.Server.WTSQuerySessionInformationA(
          state.TargetServer.handle(), session.record.SessionId, platform::kWtsConnectState,
          answer.address(), &bytes)) {
    state.LogError(SystemErrorText(state.Server, state.Server.GetLastError()));
    return false;
  }
  uint32_t now = expected_state + 1;
  if (answer.get() != nullptr && bytes >= sizeof now) std::memcpy(&now, answer.get(), sizeof now);
  if (now == expected_state) return true;
  state.LogInfo(state.Dual("Reconnected: ") + sessions::DualSessionName(session));
  return false;
}

// Calls the action on one session and reports it: log, console, Errorlevel.
// A rehearsal reports `what_if` instead, as the call's success would.
void ActOn(State& state, const SessionAction& action, uintptr_t server, uint32_t session_id,
           const DualText& done, const DualText& refused, const DualText& what_if) {
  if (state.SessionEnded) return;
  if (state.WhatIf) {
    ReportWhatIf(state, what_if);
    state.ErrorLevel = 2;
    return;
  }
  const bool succeeded = (state.Server.*action.call)(server, session_id, false);
  if (succeeded) {
    state.LogInfo(done);
    state.PrintLine(done);
    state.ErrorLevel = 2;
    return;
  }
  state.ReportRefusal(refused, state.Server.GetLastError());
  state.ErrorLevel = 1;
}

void RunSessionAction(State& state, const SessionAction& action) {
  state.LogInfo(action.begin_line);
  if (!state.OperandsFollow(1)) {
    state.StopAt(state.ArgIndex, "a user name, *ALL or #id must follow");
  } else {
    const std::string target(Trim(state.ParamStr(state.ArgIndex + 1)));
    const std::u16string_view wide_target = state.TrimmedWideParam(state.ArgIndex + 1);
    state.LogInfo(u"username: " + std::u16string(wide_target));
    if (action.me_is_own_session && target == "*me") {
      // The caller's own session is on the local server, whichever server
      // the other targets are on, and "/IDLEMINUTES" holds for it too.
      const uint32_t own =
          state.OwnSessionId != kUnknownSessionId ? state.OwnSessionId : platform::kCurrentSession;
      if (sessions::IdleLongEnough(state, platform::kCurrentServerHandle, own)) {
        ActOn(state, action, platform::kCurrentServerHandle, platform::kCurrentSession,
              state.Dual(action.me_done), state.Dual(action.me_refused),
              state.Dual(std::string(action.what_if_word) + " me"));
      }
    } else {
      sessions::ScanOptions options;
      options.state_bound = action.state_bound;
      options.own_session_rule = sessions::OwnSessionRule::kAlways;
      options.matching = sessions::Matching::kByNameOrAll;
      options.target = wide_target;
      options.enumeration_failure_tag = action.enumeration_failure_tag;
      options.lookup_failure_tag = action.lookup_failure_tag;
      options.target_index = state.ArgIndex + 1;
      const bool all = UpperAscii(target) == "*ALL";
      std::optional<std::string> server_name;
      options.on_match = [&state, &action, all,
                          &server_name](const sessions::LookedUpSession& session) {
        if (action.only_state != kAnyState && session.record.State != action.only_state) return;
        if (action.all_means_users && all && session.user.empty()) return;
        if (!sessions::IdleLongEnough(state, session)) return;
        if (action.recheck_state && !StillInState(state, session, action.only_state)) return;
        const DualText name = sessions::DualSessionName(session);
        if (state.WhatIf && !server_name) server_name = TargetServerName(state);
        ActOn(state, action, state.TargetServer.handle(), session.record.SessionId,
              state.Dual(action.done_prefix) + name, state.Dual(action.refused_prefix) + name,
              state.WhatIf ? state.Dual(std::string(action.what_if_word) + " ") + name +
                                 state.Dual(" #" + std::to_string(session.record.SessionId) +
                                            " on " + *server_name)
                           : DualText());
      };
      sessions::RunSessionScan(state, options);
    }
  }
  state.ArgIndex += 2;
  state.LogInfo(action.end_line);
}

}  // namespace

void DisconnectCommand(State& state) { RunSessionAction(state, kDisconnect); }

void LogoffCommand(State& state) { RunSessionAction(state, kLogoff); }

void LogoffDisconnectedCommand(State& state) { RunSessionAction(state, kLogoffDisconnected); }

}  // namespace quillmarsh::actions
