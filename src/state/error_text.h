#pragma once

#include <cstdint>
#include <string>

#include "platform/terminal_server.h"

namespace quillmarsh {

// ERROR_INVALID_FUNCTION, for a failure that leaves no error code (or ends
// in an exception), so that a failure never reads as success.
inline constexpr uint32_t kUnexpectedFailure = 1;

// `error`, or kUnexpectedFailure for 0.
inline uint32_t FailureCode(uint32_t error) { return error != 0 ? error : kUnexpectedFailure; }

// The system's message for a Windows error code, without its trailing
// blanks, control characters and full stops, then " [code]": decimal, or
// for a failed HRESULT in hex (" [0x800706BA]").
std::string SystemErrorText(platform::TerminalServer& server, uint32_t code);

}  // namespace quillmarsh
