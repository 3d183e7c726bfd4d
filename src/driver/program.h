// The whole life of one run: start-up, help screen or usage hint or the
// command loop, and the end. Returns the exit code.
#pragma once

#include <string>
#include <vector>

#include "platform/system.h"
#include "platform/terminal_server.h"

namespace quillmarsh {

int RunProgram(std::vector<std::string> arguments, platform::TerminalServer& server,
               platform::System& system);

}  // namespace quillmarsh
