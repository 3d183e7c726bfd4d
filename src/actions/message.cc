#include "actions/message.h"

#include <optional>
#include <string>

#include "sessions/session_details.h"
#include "sessions/session_scan.h"
#include "state/text.h"
#include "state/what_if.h"

namespace quillmarsh::actions {
namespace {

constexpr std::u16string_view kTitle = u"Terminal Server";

}  // namespace

sessions::ScanOptions MessageScanOptions(std::u16string_view target, int32_t target_index) {
  sessions::ScanOptions options;
  options.state_bound = 4;
  options.own_session_rule = sessions::OwnSessionRule::kWhenExcluded;
  options.matching = sessions::Matching::kByNameOrAll;
  options.target = target;
  options.enumeration_failure_tag = "Error 5a";
  options.lookup_failure_tag = "Error 5b";
  options.target_index = target_index;
  return options;
}

void MessageTimeoutCommand(State& state) {
  state.LogInfo("Begin MessageTimeOut");
  ++state.ArgIndex;
  if (state.ArgIndex <= state.ParamCount()) {
    ++state.ArgIndex;
    state.MessageTimeout = WholeNumberOrZero(state.ParamStr(state.ArgIndex - 1));
    state.LogInfo("MessageTimeOut: " + std::to_string(state.MessageTimeout));
  }
  state.LogInfo("End MessageTimeOut");
}

void MessageCommand(State& state) {
  state.LogInfo("Begin Message");
  if (!state.OperandsFollow(2)) {
    state.StopAt(state.ArgIndex, "a user name, *ALL or #id and a message text must follow");
  } else {
    const std::u16string_view target = state.TrimmedWideParam(state.ArgIndex + 1);
    state.LogInfo(u"username: " + std::u16string(target));
    // As typed: the ANSI form may have lost characters.
    const std::u16string message(state.TrimmedWideParam(state.ArgIndex + 2));
    state.LogInfo(u"message: " + message);

    sessions::ScanOptions options = MessageScanOptions(target, state.ArgIndex + 1);
    std::optional<std::string> server_name;
    options.on_match = [&state, &message, &server_name](const sessions::LookedUpSession& session) {
      if (state.SessionEnded) return;
      if (!sessions::IdleLongEnough(state, session)) return;
      if (state.WhatIf) {
        if (!server_name) server_name = TargetServerName(state);
        ReportWhatIf(state, state.Dual("Message ") + sessions::DualSessionName(session) +
                                state.Dual(" #" + std::to_string(session.record.SessionId) +
                                           " on " + *server_name));
        state.ErrorLevel = 2;
        return;
      }
      uint32_t response = 0;
      const bool sent = state.Server.WTSSendMessageW(
          state.TargetServer.handle(), session.record.SessionId, kTitle.data(),
          static_cast<uint32_t>(kTitle.size() * 2), message.c_str(),
          static_cast<uint32_t>(message.size() * 2), 0, state.MessageTimeout, &response, false);
      const uint32_t error = state.Server.GetLastError();
      const DualText name = sessions::DualSessionName(session);
      if (sent) {
        state.LogInfo(state.Dual("Message OK: ") + name);
        state.PrintLine(state.Dual("Message OK: ") + name);
        state.ErrorLevel = 2;
      } else {
        state.ReportRefusal(state.Dual("Message Not OK: ") + name, error);
        state.ErrorLevel = 1;
      }
    };
    sessions::RunSessionScan(state, options);
  }
  state.ArgIndex += 3;
  state.LogInfo("End Message");
}

}  // namespace quillmarsh::actions
