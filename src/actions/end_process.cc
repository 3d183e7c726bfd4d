#include "actions/end_process.h"

#include <optional>
#include <string>
#include <vector>

#include "sessions/session_details.h"
#include "sessions/session_processes.h"
#include "sessions/session_scan.h"
#include "state/text.h"
#include "state/what_if.h"

namespace quillmarsh::actions {
namespace {

// What the process is named by: a decimal process id, or an image name.
struct ProcessName {
  std::optional<uint32_t> pid;
  std::u16string image;
};

class ProcessEnder {
 public:
  ProcessEnder(State& state, ProcessName name)
      : state_(state), owners_(state), name_(std::move(name)) {}

  void Visit(const platform::WtsProcessInfoEx& record, const sessions::MatchedSession& session) {
    if (state_.SessionEnded) return;
    const std::u16string_view wide_image = sessions::ImageName(record);
    if (name_.pid ? *name_.pid != record.ProcessId : !state_.SameName(wide_image, name_.image)) {
      return;
    }
    found_ = true;
    const std::string pid = std::to_string(record.ProcessId);
    DualText what{state_.System.Utf16ToAnsi(wide_image) + " " + pid, std::u16string(wide_image)};
    what.wide += u' ';
    what.wide += state_.System.AnsiToUtf16(pid);
    if (!state_.TargetServer.remote() && record.ProcessId == state_.System.CurrentProcessId()) {
      state_.LogInfo(state_.Dual("Not ended, own process: ") + what);
      return;
    }
    // Ending a process of another account (csrss.exe, winlogon.exe, a
    // service) can take the whole session or the server down.
    const std::optional<std::u16string>& owner = owners_.Of(record.pUserSid);
    if (!owner || !OwnedBySessionUser(*owner, session)) {
      std::u16string text = u"Not ended, owner ";
      text.append(owner ? std::u16string_view(*owner) : std::u16string_view(u"-"));
      text.append(u": ");
      text.append(what.wide);
      state_.LogInfo(text);
      // Standard error as well: a batch file can tell the copies left
      // running, and standard output stays as it always was.
      state_.System.WriteStderr(state_.System.Utf16ToAnsi(text) + "\r\n");
      return;
    }
    const DualText line = DualText{session.domain + "\\" + session.user,
                                   session.wide_domain + u"\\" + session.wide_user} +
                          state_.Dual(" ") + what;
    // Windows reuses a pid as soon as its process has ended, and the owner
    // look-ups and earlier ends take time: the process is ended only when
    // the server still lists the very same one right now. One that has gone
    // meanwhile was not tried, and leaves the Errorlevel as it was.
    uint32_t error = 0;
    const sessions::Relisted relisted = sessions::ListAgain(state_, record, &error);
    if (state_.SessionEnded) return;
    if (relisted == sessions::Relisted::kChanged) {
      const DualText changed = state_.Dual("Not ended, changed since the listing: ") + what;
      state_.LogInfo(changed);
      state_.PrintLine(changed);
      return;
    }
    if (relisted == sessions::Relisted::kFailed) {
      state_.ReportRefusal(state_.Dual("EndProcess Not OK: ") + line, error);
      state_.ErrorLevel = 1;
      return;
    }
    if (state_.WhatIf) {
      ReportWhatIf(state_, state_.Dual("EndProcess ") + line +
                               state_.Dual(" on " + TargetServerName(state_)));
      state_.ErrorLevel = 2;
    } else if (state_.Server.WTSTerminateProcess(state_.TargetServer.handle(), record.ProcessId,
                                                 1)) {
      state_.LogInfo(state_.Dual("EndProcess OK: ") + line);
      state_.PrintLine(state_.Dual("EndProcess OK: ") + line);
      state_.ErrorLevel = 2;
    } else {
      const uint32_t refusal = state_.Server.GetLastError();
      state_.ReportRefusal(state_.Dual("EndProcess Not OK: ") + line, refusal);
      state_.ErrorLevel = 1;
    }
  }

  // Whether any process of the sessions had the image name or id.
  bool found() const { return found_; }

 private:
  // "DOMAIN\user" with the session's domain and user; a session without a
  // user owns nothing.
  bool OwnedBySessionUser(std::u16string_view owner, const sessions::MatchedSession& session) {
    const size_t separator = owner.find(u'\\');
    if (session.wide_user.empty() || separator == std::u16string_view::npos) return false;
    return state_.SameName(owner.substr(0, separator), session.wide_domain) &&
           state_.SameName(owner.substr(separator + 1), session.wide_user);
  }

  State& state_;
  sessions::ProcessOwners owners_;
  ProcessName name_;
  bool found_ = false;
};

// The operand at `offset` after the command word, trimmed; stops the run
// when it is missing or empty.
std::optional<std::string> Operand(State& state, int32_t offset, std::string_view what) {
  if (!state.OperandsFollow(offset)) {
    state.StopAt(state.ArgIndex, std::string(what) + " must follow");
    return std::nullopt;
  }
  std::string operand(Trim(state.ParamStr(state.ArgIndex + offset)));
  if (operand.empty()) {
    state.StopAt(state.ArgIndex + offset, std::string(what) + " must be given");
    return std::nullopt;
  }
  return operand;
}

}  // namespace

void EndProcessCommand(State& state) {
  state.LogInfo("Begin EndProcess");
  const std::optional<std::string> process = Operand(state, 1, "an image name or process id");
  const std::optional<std::string> target =
      process ? Operand(state, 2, "a user, *ALL or #id") : std::nullopt;
  if (target) {
    const std::u16string wide_process(state.TrimmedWideParam(state.ArgIndex + 1));
    const std::u16string_view wide_target = state.TrimmedWideParam(state.ArgIndex + 2);
    state.LogInfo(u"process: " + wide_process + u", username: " + std::u16string(wide_target));
    std::vector<sessions::MatchedSession> matched;
    sessions::ScanOptions options;
    options.state_bound = sessions::kEveryState;
    options.own_session_rule = sessions::OwnSessionRule::kAlways;
    options.matching = sessions::Matching::kByNameOrAll;
    options.target = wide_target;
    options.enumeration_failure_tag = "Error 9a";
    options.lookup_failure_tag = "Error 9b";
    options.target_index = state.ArgIndex + 2;
    options.on_match = [&state, &matched](const sessions::LookedUpSession& session) {
      if (sessions::IdleLongEnough(state, session)) matched.push_back(sessions::CopyMatch(session));
    };
    sessions::RunSessionScan(state, options);
    if (!matched.empty()) {
      const std::optional<uint32_t> pid = ParseDecimalInRange(*process, 0, 0xFFFFFFFF);
      ProcessEnder ender(state, ProcessName{pid, wide_process});
      const bool listed = sessions::VisitSessionProcesses(
          state, matched, "Error 9c",
          [&ender](const platform::WtsProcessInfoEx& record,
                   const sessions::MatchedSession& session) { ender.Visit(record, session); });
      // A name that ends nothing, such as "notepad" for "notepad.exe", must
      // not pass silently.
      if (listed && !ender.found()) {
        std::string what = "no process of the matched sessions has it";
        if (!pid && process->find('.') == std::string::npos)
          what += " (an image name ends in .exe)";
        state.NoteAt(state.ArgIndex + 1, what);
      }
    }
  }
  state.ArgIndex += 3;
  state.LogInfo("End EndProcess");
}

}  // namespace quillmarsh::actions
