// "/DISCONNECT" and "/LOGOFF": the same steps with different calls, texts
// and state bounds.
#pragma once

#include "state/state.h"

namespace quillmarsh::actions {

void DisconnectCommand(State& state);
void LogoffCommand(State& state);

}  // namespace quillmarsh::actions
