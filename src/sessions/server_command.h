// "/SERVER name": the session commands after it, and the server commands,
// address that terminal server; "/SERVER ." goes back to the local one.
#pragma once

#include "state/state.h"

namespace quillmarsh::sessions {

// Longest server name accepted.
inline constexpr size_t kMaxServerName = 255;

void ServerCommand(State& state);

}  // namespace quillmarsh::sessions
