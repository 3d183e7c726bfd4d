// "/CONNECT *me|#id": connects a session of this server to the physical
// console, as tscon does with "/dest:console".
#pragma once

#include "state/state.h"

namespace quillmarsh::actions {

void ConnectCommand(State& state);

}  // namespace quillmarsh::actions
