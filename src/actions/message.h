#pragma once

#include "state/state.h"

namespace quillmarsh::actions {

// "/MESSAGETIMEOUT seconds": how long later message boxes stay open.
void MessageTimeoutCommand(State& state);

// "/MESSAGE user|*ALL text": a message box on each matching session.
void MessageCommand(State& state);

}  // namespace quillmarsh::actions
