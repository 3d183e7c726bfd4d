#include "actions/ask.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "actions/message.h"
#include "sessions/session_details.h"
#include "sessions/session_scan.h"
#include "state/error_text.h"
#include "state/text.h"
#include "state/what_if.h"

namespace quillmarsh::actions {
namespace {

constexpr std::u16string_view kTitle = u"Terminal Server";
// MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2: an Enter by accident is No.
constexpr uint32_t kYesNoQuestion = 0x04 | 0x20 | 0x100;
constexpr uint32_t kIdYes = 6;
constexpr uint32_t kIdNo = 7;
constexpr uint32_t kLongestAskSeconds = 3600;

struct Asked {
  uint32_t id;
  DualText name;
};

// What one call hands back: written by its thread, read only once that
// thread has answered.
struct Answer {
  uint32_t response = 0;
};

}  // namespace

void AskCommand(State& state) {
  state.LogInfo("Begin Ask");
  const int32_t word_index = state.ArgIndex;
  state.ArgIndex += 4;
  std::optional<uint32_t> seconds;
  if (word_index + 3 > state.ParamCount()) {
    state.StopAt(word_index, "seconds, a user name, *ALL or #id and a question must follow");
  } else if (seconds = ParseDecimalInRange(state.ParamStr(word_index + 1), 1, kLongestAskSeconds);
             !seconds) {
    state.StopAt(word_index + 1, "/ASK takes 1 to 3600 seconds");
  }
  if (!seconds) {
    state.LogInfo("End Ask");
    return;
  }
  const std::u16string_view target = state.TrimmedWideParam(word_index + 2);
  // As typed: the ANSI form may have lost characters.
  const std::u16string message(state.TrimmedWideParam(word_index + 3));
  state.LogInfo("seconds: " + std::to_string(*seconds));
  state.LogInfo(u"username: " + std::u16string(target));
  state.LogInfo(u"message: " + message);

  sessions::ScanOptions options = MessageScanOptions(target, word_index + 2);
  std::vector<Asked> asked;
  std::optional<std::string> server_name;
  options.on_match = [&state, &asked, &server_name](const sessions::LookedUpSession& session) {
    // Nobody at a logon screen can answer.
    if (state.SessionEnded || session.wide_user.empty()) return;
    if (!sessions::IdleLongEnough(state, session)) return;
    const DualText name = sessions::DualSessionName(session);
    if (state.WhatIf) {
      if (!server_name) server_name = TargetServerName(state);
      ReportWhatIf(state, state.Dual("Ask ") + name +
                              state.Dual(" #" + std::to_string(session.record.SessionId) + " on " +
                                         *server_name));
      state.ErrorLevel = 2;
      return;
    }
    asked.push_back({session.record.SessionId, name});
  };
  sessions::RunSessionScan(state, options);

  if (!asked.empty() && !state.SessionEnded) {
    // Every session at once: the run waits one timeout, not one a session.
    std::vector<std::shared_ptr<Answer>> answers;
    std::vector<std::function<uint32_t(platform::TerminalServer&)>> calls;
    for (const Asked& session : asked) {
      auto answer = std::make_shared<Answer>();
      answers.push_back(answer);
      calls.push_back([handle = state.TargetServer.handle(), id = session.id, message,
                       timeout = *seconds, answer](platform::TerminalServer& server) -> uint32_t {
        uint32_t response = 0;
        if (!server.WTSSendMessageW(handle, id, kTitle.data(),
                                    static_cast<uint32_t>(kTitle.size() * 2), message.c_str(),
                                    static_cast<uint32_t>(message.size() * 2), kYesNoQuestion,
                                    timeout, &response, true)) {
          const uint32_t error = server.GetLastError();
          return error != 0 ? error : kUnexpectedFailure;
        }
        answer->response = response;
        return 0;
      });
    }
    // A box closes itself after the seconds; the server may take its time
    // limit on top to hand the answer back.
    const std::vector<TimeLimitedResult> results =
        CallAllWithinTimeLimit(state.TargetServer.shared_server(), std::move(calls),
                               std::chrono::seconds(*seconds + state.ServerTimeoutSeconds));
    bool said_no = false;
    bool all_yes = true;
    for (size_t i = 0; i < asked.size(); ++i) {
      const DualText& name = asked[i].name;
      if (results[i].abandoned && state.TargetServer.remote()) state.TargetServer.KeepOpen();
      if (results[i].error != 0 && !results[i].abandoned) {
        state.ReportRefusal(state.Dual("Message Not OK: ") + name, results[i].error);
        all_yes = false;
        continue;
      }
      const uint32_t response = results[i].abandoned ? 0 : answers[i]->response;
      const DualText line = state.Dual(response == kIdYes  ? "Answer Yes: "
                                       : response == kIdNo ? "Answer No: "
                                                           : "No answer: ") +
                            name;
      said_no = said_no || response == kIdNo;
      all_yes = all_yes && response == kIdYes;
      state.LogInfo(line);
      state.PrintLine(line);
    }
    state.ErrorLevel = said_no ? 3 : all_yes ? 2 : 1;
  }
  state.LogInfo("End Ask");
}

}  // namespace quillmarsh::actions
