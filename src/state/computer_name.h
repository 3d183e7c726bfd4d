// The names of the machine the program runs on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/system.h"
#include "platform/terminal_server.h"

namespace quillmarsh {

// One of the machine's names (a GetComputerNameExW name type) in the ANSI
// code page, as the command line comes; empty when it cannot be had.
std::string ComputerName(platform::TerminalServer& server, platform::System& system,
                         uint32_t name_type);

// The same in UTF-16, as the system answers it.
std::u16string ComputerNameUtf16(platform::TerminalServer& server, uint32_t name_type);

// Whether a server name means this machine: its NetBIOS name, DNS host name
// or fully qualified DNS name, "localhost", "127.0.0.1" or "::1", in any
// ASCII letter case. Another alias or address of the machine is not known
// here: the server check asks the server for its NetBIOS name.
bool NamesThisMachine(platform::TerminalServer& server, platform::System& system,
                      std::string_view name);

}  // namespace quillmarsh
