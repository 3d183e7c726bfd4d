#pragma once

#include "state/state.h"

namespace quillmarsh::actions {

// "/ASK seconds user|*ALL|#id text": a Yes/No message box on each session
// that "/MESSAGE" reaches and that has a user, all asked at the same time;
// the answers, in enumeration order, set the Errorlevel (3 someone said No,
// 2 everyone said Yes, 1 otherwise).
void AskCommand(State& state);

}  // namespace quillmarsh::actions
