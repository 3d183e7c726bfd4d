#include "state/what_if.h"

#include "state/computer_name.h"

namespace quillmarsh {

std::string TargetServerName(State& state) {
  if (state.TargetServer.remote()) return state.TargetServer.name();
  return ComputerName(state.Server, state.System, platform::kComputerNameNetBios);
}

void ReportWhatIf(State& state, std::string_view what) {
  const std::string line = "What if: " + std::string(what);
  state.LogInfo(line);
  state.PrintLine(line);
}

void ReportWhatIf(State& state, const DualText& what) {
  const DualText line = state.Dual("What if: ") + what;
  state.LogInfo(line);
  state.PrintLine(line);
}

void ReportOutcomeUnknown(State& state) {
  const std::string line =
      "Outcome unknown: " + TargetServerName(state) + " may still carry it out";
  state.LogError(line);
  state.PrintLine(line);
}

}  // namespace quillmarsh
