// "/SERVER name": the session commands after it, and the server commands,
// address that terminal server; "/SERVER ." goes back to the local one.
// "/SERVERTIMEOUT seconds": how long later "/SERVER" commands wait for a
// remote server to answer its check.
#pragma once

#include "state/state.h"

namespace quillmarsh::sessions {

// Longest server name accepted.
inline constexpr size_t kMaxServerName = 255;
inline constexpr uint32_t kLongestServerTimeout = 3600;

void ServerCommand(State& state);
void ServerTimeoutCommand(State& state);

}  // namespace quillmarsh::sessions
