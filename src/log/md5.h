// The MD5 message digest (RFC 1321).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillmarsh::log {

std::array<uint8_t, 16> Md5(std::string_view bytes);
// The digest as 32 lower-case hexadecimal digits, high half of each byte first.
std::string Md5Hex(std::string_view bytes);

}  // namespace quillmarsh::log
