#include "platform/system.h"

namespace quillmarsh::platform {

std::u16string Utf8ToUtf16(std::string_view text) {
  // Every byte gives at most one unit (four bytes give two).
  std::u16string result(text.size(), u'\0');
  size_t out = 0;
  size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      result[out++] = byte;
      ++i;
      continue;
    }
    uint32_t code_point = 0xFFFD;
    size_t length = 1;
    size_t extra = 0;
    uint32_t minimum = 0;
    uint32_t value = 0;
    if ((byte & 0xE0) == 0xC0) {
      extra = 1, value = byte & 0x1F, minimum = 0x80;
    } else if ((byte & 0xF0) == 0xE0) {
      extra = 2, value = byte & 0x0F, minimum = 0x800;
    } else if ((byte & 0xF8) == 0xF0) {
      extra = 3, value = byte & 0x07, minimum = 0x10000;
    }
    bool valid = extra > 0 && text.size() - i > extra;
    for (size_t k = 1; valid && k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) valid = false;
      value = (value << 6) | (next & 0x3F);
    }
    if (valid && value >= minimum && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF)) {
      code_point = value;
      length = extra + 1;
    }
    if (code_point >= 0x10000) {
      code_point -= 0x10000;
      result[out++] = static_cast<char16_t>(0xD800 + (code_point >> 10));
      result[out++] = static_cast<char16_t>(0xDC00 + (code_point & 0x3FF));
    } else {
      result[out++] = static_cast<char16_t>(code_point);
    }
    i += length;
  }
  result.resize(out);
  return result;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  // Every unit gives at most three bytes (a pair gives four).
  std::string result(text.size() * 3, '\0');
  size_t out = 0;
  const auto put = [&result, &out](uint32_t byte) { result[out++] = static_cast<char>(byte); };
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t code_point = text[i];
    if (code_point < 0x80) {
      put(code_point);
      continue;
    }
    if (code_point >= 0xD800 && code_point <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      code_point = 0x10000 + ((code_point - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    if (code_point < 0x800) {
      put(0xC0 | (code_point >> 6));
      put(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
      put(0xE0 | (code_point >> 12));
      put(0x80 | ((code_point >> 6) & 0x3F));
      put(0x80 | (code_point & 0x3F));
    } else {
      put(0xF0 | (code_point >> 18));
      put(0x80 | ((code_point >> 12) & 0x3F));
      put(0x80 | ((code_point >> 6) & 0x3F));
      put(0x80 | (code_point & 0x3F));
    }
  }
  result.resize(out);
  return result;
}

}  // namespace quillmarsh::platform
