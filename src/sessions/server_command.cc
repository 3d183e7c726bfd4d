#include "sessions/server_command.h"

#include <string>

#include "state/text.h"

namespace quillmarsh::sessions {

void ServerCommand(State& state) {
  std::string_view name;
  if (state.OperandsFollow(1)) {
    name = Trim(state.ParamStr(state.ArgIndex + 1));
    if (name.substr(0, 2) == "\\\\") name.remove_prefix(2);
  }
  if (name.empty() || name.size() > kMaxServerName) {
    state.StopRequested = true;
  } else {
    state.LogInfo("Server: " + std::string(name));
    const uint32_t error = state.TargetServer.Switch(name);
    if (error != 0) state.ReportRefusal("Server Not OK: " + std::string(name), error);
  }
  state.ArgIndex += 2;
}

}  // namespace quillmarsh::sessions
