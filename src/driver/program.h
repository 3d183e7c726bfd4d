// The whole life of one run: start-up, help screen or usage hint or the
// command loop, and the end. Returns the exit code.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/system.h"
#include "platform/terminal_server.h"

namespace quillmarsh {

// `server` is shared with a server check that may still be under way when
// the run ends; the process then ends without waiting for it.
// `wide_arguments` are the same arguments in UTF-16 (empty: converted from
// `arguments`).
int RunProgram(std::vector<std::string> arguments, std::shared_ptr<platform::TerminalServer> server,
               platform::System& system, std::vector<std::u16string> wide_arguments = {});

// For a server that outlives the run for certain.
int RunProgram(std::vector<std::string> arguments, platform::TerminalServer& server,
               platform::System& system);

}  // namespace quillmarsh
