#include "log/log_text.h"

namespace quillmarsh::log {

std::u16string Widen(std::string_view ascii) {
  std::u16string text;
  text.reserve(ascii.size());
  for (char c : ascii) text += static_cast<char16_t>(static_cast<unsigned char>(c));
  return text;
}

std::u16string UpperAscii(std::u16string_view text) {
  std::u16string upper(text);
  for (char16_t& c : upper) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  return upper;
}

}  // namespace quillmarsh::log
