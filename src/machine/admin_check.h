#pragma once

#include <cstdint>

#include "platform/terminal_server.h"

namespace quillmarsh::machine {

// True when the account holds administrator rights that are in force: the
// thread's impersonation token (else the process token) lists the
// Administrators group, and from major version 6 on the process token is
// not the limited half of a split token. Worked out afresh on every call;
// every failure, an exception included, answers false.
bool IsElevatedAdministrator(platform::TerminalServer& server, uint32_t os_major_version);

}  // namespace quillmarsh::machine
