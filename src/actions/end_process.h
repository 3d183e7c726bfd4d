// "/ENDPROCESS image|pid user|*ALL|#id": ends the named processes in the
// matching sessions, but only those the session's own user owns.
#pragma once

#include "state/state.h"

namespace quillmarsh::actions {

void EndProcessCommand(State& state);

}  // namespace quillmarsh::actions
