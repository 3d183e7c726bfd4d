// "/PROCESSES": a table or CSV of the processes in the matching sessions.
#pragma once

#include "state/state.h"

namespace quillmarsh::sessions {

void ProcessesCommand(State& state);

}  // namespace quillmarsh::sessions
