#include "state/text.h"

#include <algorithm>

namespace quillmarsh {

std::string_view Trim(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 0x20) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 0x20) --end;
  return text.substr(begin, end - begin);
}

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

namespace {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<uint32_t> ParseHex(std::string_view digits) {
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  uint32_t value = 0;
  for (char c : digits) {
    int digit = HexDigitValue(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  return value;
}

}  // namespace

std::optional<uint32_t> ParseWholeNumber(std::string_view text) {
  text = Trim(text);
  if (text.empty()) return std::nullopt;
  if (text[0] == '$' || text[0] == 'x' || text[0] == 'X') {
    return ParseHex(text.substr(1));
  }
  if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    return ParseHex(text.substr(2));
  }
  bool negative = false;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  int64_t magnitude = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > 2147483648LL) return std::nullopt;
  }
  int64_t value = negative ? -magnitude : magnitude;
  if (value > 2147483647LL) return std::nullopt;
  return static_cast<uint32_t>(static_cast<int32_t>(value));
}

uint32_t WholeNumberOrZero(std::string_view text) { return ParseWholeNumber(text).value_or(0); }

std::optional<uint32_t> ParseDecimalInRange(std::string_view text, uint32_t low, uint32_t high) {
  text = Trim(text);
  if (text.empty() || text.size() > 10) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value < low || value > high) return std::nullopt;
  return static_cast<uint32_t>(value);
}

size_t CharacterCount(platform::System& system, std::string_view text) {
  bool ascii = true;
  for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return text.size();
  // A character outside the BMP takes two UTF-16 units: count it once.
  size_t characters = 0;
  for (char16_t unit : system.AnsiToUtf16(text)) {
    if (unit < 0xDC00 || unit > 0xDFFF) ++characters;
  }
  return characters;
}

std::string TableCell(platform::System& system, std::string_view text, size_t width) {
  std::string cell(text);
  for (char& c : cell) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  const size_t characters = CharacterCount(system, cell);
  if (characters < width) cell.append(width - characters, ' ');
  return cell;
}

std::string TableRow(platform::System& system,
                     std::initializer_list<std::pair<std::string_view, size_t>> columns,
                     std::string_view last) {
  std::string row;
  for (const auto& [text, width] : columns) {
    row += TableCell(system, text, width);
    row += ' ';
  }
  row += TableCell(system, last, 0);
  return row;
}

}  // namespace quillmarsh
