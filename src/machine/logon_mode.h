// "/LOGONS MODE": whether a server takes new logons (drain mode), set or
// queried through WMI on this machine or, after "/SERVER name", on that one.
#pragma once

#include "state/state.h"

namespace quillmarsh::machine {

void LogonModeCommand(State& state);

}  // namespace quillmarsh::machine
