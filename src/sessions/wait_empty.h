// "/WAITEMPTY minutes": waits until nobody works on the server the commands
// address.
#pragma once

#include "state/state.h"

namespace quillmarsh::sessions {

// In use: a session with a user that is active, connected, connecting or
// shadowing, other than the own one and those "/EXCEPT" leaves out of
// "*ALL". Checks at once, then after each wait of 10 seconds, at most
// minutes x 6 waits.
void WaitEmptyCommand(State& state);

}  // namespace quillmarsh::sessions
