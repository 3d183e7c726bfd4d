// "/DISCONNECT", "/LOGOFF" and "/LOGOFFDISCONNECTED": the same steps with
// different calls, texts and state filters.
#pragma once

#include "state/state.h"

namespace quillmarsh::actions {

void DisconnectCommand(State& state);
void LogoffCommand(State& state);
void LogoffDisconnectedCommand(State& state);

}  // namespace quillmarsh::actions
