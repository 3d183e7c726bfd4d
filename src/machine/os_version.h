#pragma once

#include <cstdint>

#include "platform/terminal_server.h"

namespace quillmarsh::machine {

// The operating system's major version, settled once at start-up:
// NetWkstaGetInfo's when it reports one, otherwise GetVersionExA's, 0 when
// neither answers.
uint32_t DetermineOsMajorVersion(platform::TerminalServer& server);

}  // namespace quillmarsh::machine
