#include "state/error_text.h"

namespace quillmarsh {

std::string SystemErrorText(platform::TerminalServer& server, uint32_t code) {
  std::string text = server.FormatMessage(code);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) < 0x21 || text.back() == '.')) {
    text.pop_back();
  }
  text += " [";
  text += std::to_string(code);
  text += "]";
  return text;
}

}  // namespace quillmarsh
