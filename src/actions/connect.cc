#include "actions/connect.h"

#include <optional>
#include <string>
#include <string_view>

#include "sessions/session_scan.h"
#include "sessions/wts_buffer.h"
#include "state/computer_name.h"
#include "state/error_text.h"
#include "state/text.h"
#include "state/what_if.h"

namespace quillmarsh::actions {
namespace {

// The session the operand names: "*me" (lower case, as for "/DISCONNECT")
// or "#id". Anything else, a user name or "*ALL" among them, is nullopt:
// connecting another user's session would take that user's password.
std::optional<uint32_t> NamedSession(const State& state, std::string_view target, bool* own) {
  *own = target == "*me";
  if (*own) return state.OwnSessionId;
  if (target.size() < 2 || target[0] != '#' || target[1] < '0' || target[1] > '9') {
    return std::nullopt;
  }
  return ParseDecimalInRange(target.substr(1), 0, 0xFFFFFFFF);
}

// A session that the operand names and that is not there: said on standard
// error (and in the log); the run goes on.
void ReportNoSuchSession(State& state, std::string_view what) {
  state.LogError(what);
  state.System.WriteStderr("quillmarsh: argument " + std::to_string(state.ArgIndex + 1) + " \"" +
                           state.ParamStr(state.ArgIndex + 1) + "\": " + std::string(what) +
                           "\r\n");
}

// "DOMAIN\user #id" of a session of this server, from its own look-up of
// user and domain; nullopt when the enumeration does not hold it (said on
// standard error) or a look-up fails (logged).
std::optional<DualText> LookUpSession(State& state, uint32_t session_id) {
  platform::TerminalServer& server = state.Server;
  const uintptr_t here = platform::kCurrentServerHandle;
  sessions::WtsBuffer<platform::WtsSessionInfo> records(server);
  uint32_t count = 0;
  if (!server.WTSEnumerateSessionsA(here, 0, 1, records.address(), &count)) {
    state.LogError("Can not enumerate sessions");
    state.LogError(SystemErrorText(server, server.GetLastError()));
    return std::nullopt;
  }
  state.LogInfo("Counted: " + std::to_string(count));
  std::optional<platform::WtsSessionInfo> found;
  for (uint32_t i = 0; i < count && !found; ++i) {
    // 0xFFFFFFFF would name the calling session to WTSConnectSessionW.
    if (records.get()[i].SessionId == session_id && session_id != platform::kCurrentSession) {
      found = records.get()[i];
    }
  }
  records.Free();
  if (!found) {
    ReportNoSuchSession(state, "no session #" + std::to_string(session_id) + " on this server");
    return std::nullopt;
  }
  std::optional<DualText> name;
  const bool named = sessions::WithSessionNames(
      state, here, *found, [&](const sessions::LookedUpSession& session) {
        const std::string id = " #" + std::to_string(session_id);
        name = DualText{sessions::SessionName(session) + id,
                        sessions::WideSessionName(session) + state.System.AnsiToUtf16(id)};
      });
  if (!named) {
    state.LogError("Can not look up account info");
    state.LogError(SystemErrorText(server, server.GetLastError()));
    return std::nullopt;
  }
  state.LogInfo(state.Dual("Domain\\User: ") + *name);
  return name;
}

void Connect(State& state, uint32_t session_id) {
  const std::optional<DualText> name = LookUpSession(state, session_id);
  if (!name || state.SessionEnded) return;
  // Read last: the console changes hands whenever someone sits down at it.
  const uint32_t console = state.Server.WTSGetActiveConsoleSessionId();
  state.LogInfo("Console session: " + std::to_string(console));
  if (console == platform::kNoConsoleSession) {
    const DualText line = state.Dual("Connect Not OK: ") + *name;
    const std::string reason = "No session is attached to the console";
    state.LogError(line);
    state.LogError(reason);
    state.PrintLine(line);
    state.PrintLine(reason);
    state.ErrorLevel = 1;
    return;
  }
  if (console == session_id) {
    const DualText line = state.Dual("Already at the console: ") + *name;
    state.LogInfo(line);
    state.PrintLine(line);
    state.ErrorLevel = 2;
    return;
  }
  if (state.WhatIf) {
    ReportWhatIf(state, state.Dual("Connect ") + *name +
                            state.Dual(" to the console on " +
                                       ComputerName(state.Server, state.System,
                                                    platform::kComputerNameNetBios)));
    state.ErrorLevel = 2;
    return;
  }
  // An empty password: Windows takes it for the caller's own sessions only.
  if (state.Server.WTSConnectSessionW(session_id, console, u"", true)) {
    const DualText line = state.Dual("Connect OK: ") + *name;
    state.LogInfo(line);
    state.PrintLine(line);
    state.ErrorLevel = 2;
    return;
  }
  const uint32_t error = state.Server.GetLastError();
  state.ReportRefusal(state.Dual("Connect Not OK: ") + *name, error);
  state.ErrorLevel = 1;
}

}  // namespace

void ConnectCommand(State& state) {
  state.LogInfo("Begin Connect");
  if (!state.OperandsFollow(1)) {
    state.StopAt(state.ArgIndex, "*me or #id must follow");
  } else {
    const std::string target(Trim(state.ParamStr(state.ArgIndex + 1)));
    state.LogInfo("username: " + target);
    bool own = false;
    const std::optional<uint32_t> session_id = NamedSession(state, target, &own);
    if (!session_id) {
      state.StopAt(state.ArgIndex + 1, "/CONNECT takes *me or #id, not a user name or *ALL");
    } else if (own && *session_id == kUnknownSessionId) {
      ReportNoSuchSession(state, "the program's own session is not known");
    } else {
      Connect(state, *session_id);
    }
  }
  state.ArgIndex += 2;
  state.LogInfo("End Connect");
}

}  // namespace quillmarsh::actions
