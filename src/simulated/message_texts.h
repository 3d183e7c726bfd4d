// Windows' own English message texts for the error codes the simulated
// server produces, as FormatMessage gives them (with their CR LF).
#pragma once

#include <cstdint>
#include <string>

namespace quillmarsh::simulated {

// HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE): WMI's answer for a machine
// that cannot be reached.
inline constexpr uint32_t kRpcServerUnavailableHresult = 0x800706BA;

// The text for `code`; empty for a code without a known text.
std::string MessageText(uint32_t code);

}  // namespace quillmarsh::simulated
