#include "simulated/code_page_1252.h"

#include <algorithm>
#include <iterator>

#include "platform/system.h"

namespace quillmarsh::simulated {

using platform::Utf8ToUtf16;

std::string Windows1252(std::string_view utf8) {
  // 0x80 to 0x9F; 0 where the code page has no character.
  static constexpr char16_t kHigh[32] = {
      0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  std::string bytes;
  const std::u16string text = Utf8ToUtf16(utf8);
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    char byte = '?';
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
      byte = static_cast<char>(unit);
    } else if (unit == 0x0141 || unit == 0x0142) {
      byte = unit == 0x0141 ? 'L' : 'l';
    } else if (const char16_t* found = std::find(std::begin(kHigh), std::end(kHigh), unit);
               found != std::end(kHigh)) {
      byte = static_cast<char>(0x80 + (found - std::begin(kHigh)));
    } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
               text[i + 1] <= 0xDFFF) {
      ++i;  // one character, one "?"
    }
    bytes += byte;
  }
  return bytes;
}

}  // namespace quillmarsh::simulated
