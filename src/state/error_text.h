#pragma once

#include <cstdint>
#include <string>

#include "platform/terminal_server.h"

namespace quillmarsh {

// The system's message for a Windows error code, without its trailing
// blanks, control characters and full stops, then " [code]".
std::string SystemErrorText(platform::TerminalServer& server, uint32_t code);

}  // namespace quillmarsh
