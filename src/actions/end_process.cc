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
  std::string image;
};

class ProcessEnder {
 public:
  ProcessEnder(State& state, ProcessName name)
      : state_(state), owners_(state), name_(std::move(name)) {}

  void Visit(const platform::WtsProcessInfoEx& record, const sessions::MatchedSession& session) {
    if (state_.SessionEnded) return;
    const std::string image = state_.System.Utf16ToAnsi(sessions::ImageName(record));
    if (name_.pid ? *name_.pid != record.ProcessId : !state_.SameName(image, name_.image)) return;
    const std::string what = image + " " + std::to_string(record.ProcessId);
    if (!state_.TargetServer.remote() && record.ProcessId == state_.System.CurrentProcessId()) {
      state_.LogInfo("Not ended, own process: " + what);
      return;
    }
    // Ending a process of another account (csrss.exe, winlogon.exe, a
    // service) can take the whole session or the server down.
    const std::optional<std::u16string>& owner = owners_.Of(record.pUserSid);
    const std::string owner_name = owner ? state_.System.Utf16ToAnsi(*owner) : "-";
    if (!OwnedBySessionUser(owner_name, session)) {
      // Standard error as well: a batch file can tell the copies left
      // running, and standard output stays as it always was.
      const std::string kept = "Not ended, owner " + owner_name + ": " + what;
      state_.LogInfo(kept);
      state_.System.WriteStderr(kept + "\r\n");
      return;
    }
    const std::string line = session.domain + "\\" + session.user + " " + what;
    // Windows reuses a pid as soon as its process has ended, and the owner
    // look-ups and earlier ends take time: the process is ended only when
    // the server still lists the very same one right now. One that has gone
    // meanwhile was not tried, and leaves the Errorlevel as it was.
    uint32_t error = 0;
    const sessions::Relisted relisted = sessions::ListAgain(state_, record, &error);
    if (state_.SessionEnded) return;
    if (relisted == sessions::Relisted::kChanged) {
      const std::string changed = "Not ended, changed since the listing: " + what;
      state_.LogInfo(changed);
      state_.PrintLine(changed);
      return;
    }
    if (relisted == sessions::Relisted::kFailed) {
      state_.ReportRefusal("EndProcess Not OK: " + line, error);
      state_.ErrorLevel = 1;
      return;
    }
    if (state_.WhatIf) {
      ReportWhatIf(state_, "EndProcess " + line + " on " + TargetServerName(state_));
      state_.ErrorLevel = 2;
    } else if (state_.Server.WTSTerminateProcess(state_.TargetServer.handle(), record.ProcessId,
                                                 1)) {
      state_.LogInfo("EndProcess OK: " + line);
      state_.PrintLine("EndProcess OK: " + line);
      state_.ErrorLevel = 2;
    } else {
      state_.ReportRefusal("EndProcess Not OK: " + line, state_.Server.GetLastError());
      state_.ErrorLevel = 1;
    }
  }

 private:
  // "DOMAIN\user" with the session's domain and user; a session without a
  // user owns nothing.
  bool OwnedBySessionUser(const std::string& owner, const sessions::MatchedSession& session) {
    const size_t separator = owner.find('\\');
    if (session.user.empty() || separator == std::string::npos) return false;
    return state_.SameName(owner.substr(0, separator), session.domain) &&
           state_.SameName(owner.substr(separator + 1), session.user);
  }

  State& state_;
  sessions::ProcessOwners owners_;
  ProcessName name_;
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
    state.LogInfo("process: " + *process + ", username: " + *target);
    std::vector<sessions::MatchedSession> matched;
    sessions::ScanOptions options;
    options.state_bound = sessions::kEveryState;
    options.own_session_rule = sessions::OwnSessionRule::kAlways;
    options.matching = sessions::Matching::kByNameOrAll;
    options.target = *target;
    options.enumeration_failure_tag = "Error 9a";
    options.lookup_failure_tag = "Error 9b";
    options.on_match = [&state, &matched](const sessions::LookedUpSession& session) {
      if (sessions::IdleLongEnough(state, session)) matched.push_back(sessions::CopyMatch(session));
    };
    sessions::RunSessionScan(state, options);
    if (!matched.empty()) {
      ProcessName name{ParseDecimalInRange(*process, 0, 0xFFFFFFFF), *process};
      ProcessEnder ender(state, std::move(name));
      sessions::VisitSessionProcesses(
          state, matched, "Error 9c",
          [&ender](const platform::WtsProcessInfoEx& record,
                   const sessions::MatchedSession& session) { ender.Visit(record, session); });
    }
  }
  state.ArgIndex += 3;
  state.LogInfo("End EndProcess");
}

}  // namespace quillmarsh::actions
