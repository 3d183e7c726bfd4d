#include "sessions/server_command.h"

#include <chrono>
#include <optional>
#include <string>

#include "state/computer_name.h"
#include "state/error_text.h"
#include "state/text.h"

namespace quillmarsh::sessions {

namespace {

// After "/CSV" standard output is the CSV itself (redirected to a file, as
// a rule): the report goes to standard error, so that the file stays valid.
void ReportUnreachable(State& state, const std::string& line, uint32_t error) {
  if (!state.CsvOutput) {
    state.ReportRefusal(line, error);
    return;
  }
  const std::string error_text = SystemErrorText(state.Server, error);
  state.LogError(line);
  state.LogError(error_text);
  state.System.WriteStderr(line + "\r\n" + error_text + "\r\n");
}

}  // namespace

void ServerCommand(State& state) {
  std::string_view name;
  if (state.OperandsFollow(1)) {
    name = Trim(state.ParamStr(state.ArgIndex + 1));
    if (name.substr(0, 2) == "\\\\") name.remove_prefix(2);
  }
  if (name.empty() || name.size() > kMaxServerName) {
    state.StopAt(state.OperandOrWord(1), "a server name of 1 to " + std::to_string(kMaxServerName) +
                                             " characters must follow");
  } else if (name.front() == '/') {
    // A forgotten name would otherwise take the next command word as the
    // server, and that command would not run.
    state.StopAt(state.ArgIndex + 1, "a server name must follow, not a command word");
  } else {
    state.LogInfo("Server: " + std::string(name));
    // This machine by any of its names is the local server, so that the
    // own session stays known and protected.
    const bool this_machine = name != "." && NamesThisMachine(state.Server, state.System, name);
    // Another alias, an address or a farm name of this machine shows when
    // the server gives this machine's NetBIOS name for itself.
    const std::u16string own_name = ComputerNameUtf16(state.Server, platform::kComputerNameNetBios);
    const uint32_t error = state.TargetServer.Switch(
        this_machine ? "." : name, std::chrono::seconds(state.ServerTimeoutSeconds),
        state.System.AnsiToUtf16(name), [&state, &own_name](std::u16string_view answered) {
          return !own_name.empty() && state.System.EqualIgnoringCase(answered, own_name);
        });
    if (error != 0) {
      ReportUnreachable(state, "Server Not OK: " + std::string(name), error);
    } else if (!this_machine && name != "." && !state.TargetServer.remote()) {
      state.LogInfo("Server is this machine: " + std::string(name));
    }
  }
  state.ArgIndex += 2;
}

void ServerTimeoutCommand(State& state) {
  std::optional<uint32_t> seconds;
  if (state.OperandsFollow(1)) {
    seconds = ParseDecimalInRange(state.ParamStr(state.ArgIndex + 1), 1, kLongestServerTimeout);
  }
  if (seconds) {
    state.ServerTimeoutSeconds = *seconds;
    state.LogInfo("Server timeout: " + std::to_string(*seconds));
  } else {
    state.StopAt(state.OperandOrWord(1),
                 "/SERVERTIMEOUT takes 1 to " + std::to_string(kLongestServerTimeout) + " seconds");
  }
  state.ArgIndex += 2;
}

}  // namespace quillmarsh::sessions
