// "/WHATIF": a rehearsal of the command line on the real servers. The
// commands that change something call these instead of the change.
#pragma once

#include <string>
#include <string_view>

#include "state/state.h"

namespace quillmarsh {

// The name of the server the commands address, as the listings print it:
// the name "/SERVER" kept, or this machine's NetBIOS name.
std::string TargetServerName(State& state);

// The line "What if: " + `what`, logged (Info), then printed.
void ReportWhatIf(State& state, std::string_view what);
void ReportWhatIf(State& state, const DualText& what);

}  // namespace quillmarsh
