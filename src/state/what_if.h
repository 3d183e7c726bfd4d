// What the commands that change something report when no change was seen:
// "/WHATIF", a rehearsal of the command line on the real servers, and a
// change whose answer never came.
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

// After the error text of a change given up on at "/SERVERTIMEOUT": the
// request may have reached the server all the same (ending the worker does
// not call it back), so the line "Outcome unknown: SERVER may still carry it
// out" is logged (Error), then printed.
void ReportOutcomeUnknown(State& state);

}  // namespace quillmarsh
