#pragma once

#include "state/state.h"

namespace quillmarsh::sessions {

// "/STATUS user": the state of the user's last matching session becomes
// the Errorlevel (nothing is printed).
void StatusCommand(State& state);

}  // namespace quillmarsh::sessions
