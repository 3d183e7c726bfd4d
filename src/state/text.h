// Text helpers shared by every command.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/system.h"

namespace quillmarsh {

// Removes leading and trailing characters with codes 0x00 to 0x20.
std::string_view Trim(std::string_view text);
// Changes only the ASCII letters a to z.
std::string UpperAscii(std::string_view text);
// The shared whole-number conversion: the trimmed text as a signed 32-bit
// integer (decimal with an optional sign, or up to eight hexadecimal digits
// after "$", "x", "X", "0x" or "0X"), its bits read as unsigned. Empty
// text, other characters and overflow give nullopt.
std::optional<uint32_t> ParseWholeNumber(std::string_view text);
// The trimmed text as decimal digits only, 1 to 10 of them, with a value
// from `low` to `high`; nullopt otherwise.
std::optional<uint32_t> ParseDecimalInRange(std::string_view text, uint32_t low, uint32_t high);
// The number of characters of an ANSI text as the console shows them: a
// character outside the BMP (two UTF-16 units) counts once.
size_t CharacterCount(platform::System& system, std::string_view text);
// A cell of a console table: `text` (ANSI) with every control character
// (below 0x20, and 0x7F) shown as "?", so that a name cannot break a row,
// then padded with blanks to `width` characters (not bytes).
std::string TableCell(platform::System& system, std::string_view text, size_t width);
// A row of a console table: each column a cell of its width followed by a
// blank, then `last`, the one column that is not padded. Nothing is cut.
std::string TableRow(platform::System& system,
                     std::initializer_list<std::pair<std::string_view, size_t>> columns,
                     std::string_view last);
// ParseWholeNumber, with 0 for a failure.
uint32_t WholeNumberOrZero(std::string_view text);

}  // namespace quillmarsh
