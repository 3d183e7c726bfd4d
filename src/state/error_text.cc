#include "state/error_text.h"

#include <cstdio>

namespace quillmarsh {
namespace {

// The severity bit of a failed HRESULT; no Windows error code has it.
constexpr uint32_t kHresultFailure = 0x80000000;

}  // namespace

std::string SystemErrorText(platform::TerminalServer& server, uint32_t code) {
  std::string text = server.FormatMessage(code);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) < 0x21 || text.back() == '.')) {
    text.pop_back();
  }
  text += " [";
  if ((code & kHresultFailure) != 0) {
    // An HRESULT (WMI's answers): administrators look these up in hex.
    char hex[11];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(code));
    text += hex;
  } else {
    text += std::to_string(code);
  }
  text += "]";
  return text;
}

}  // namespace quillmarsh
