// Small text helpers of the log's UTF-16 lines.
#pragma once

#include <string>
#include <string_view>

namespace quillmarsh::log {

// ASCII text, such as numbers and fixed words, as UTF-16.
std::u16string Widen(std::string_view ascii);

// Only the ASCII letters a to z change.
std::u16string UpperAscii(std::u16string_view text);

}  // namespace quillmarsh::log
