#include "platform/system.h"

namespace quillmarsh::platform {

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string result;
  result.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    uint32_t code_point = 0xFFFD;
    size_t length = 1;
    if (byte < 0x80) {
      code_point = byte;
    } else {
      size_t extra = 0;
      uint32_t minimum = 0;
      if ((byte & 0xE0) == 0xC0) {
        extra = 1, code_point = byte & 0x1F, minimum = 0x80;
      } else if ((byte & 0xF0) == 0xE0) {
        extra = 2, code_point = byte & 0x0F, minimum = 0x800;
      } else if ((byte & 0xF8) == 0xF0) {
        extra = 3, code_point = byte & 0x07, minimum = 0x10000;
      }
      bool valid = extra > 0;
      for (size_t k = 1; valid && k <= extra; ++k) {
        if (i + k >= text.size()) {
          valid = false;
          break;
        }
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) valid = false;
        code_point = (code_point << 6) | (next & 0x3F);
      }
      if (valid && code_point >= minimum && code_point <= 0x10FFFF &&
          (code_point < 0xD800 || code_point > 0xDFFF)) {
        length = extra + 1;
      } else {
        code_point = 0xFFFD;
      }
    }
    if (code_point >= 0x10000) {
      code_point -= 0x10000;
      result.push_back(static_cast<char16_t>(0xD800 + (code_point >> 10)));
      result.push_back(static_cast<char16_t>(0xDC00 + (code_point & 0x3FF)));
    } else {
      result.push_back(static_cast<char16_t>(code_point));
    }
    i += length;
  }
  return result;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t code_point = text[i];
    if (code_point >= 0xD800 && code_point <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      code_point = 0x10000 + ((code_point - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    if (code_point < 0x80) {
      result.push_back(static_cast<char>(code_point));
    } else if (code_point < 0x800) {
      result.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
      result.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else if (code_point < 0x10000) {
      result.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
      result.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    } else {
      result.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
      result.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
    }
  }
  return result;
}

}  // namespace quillmarsh::platform
