#include "state/computer_name.h"

#include <vector>

#include "state/text.h"

namespace quillmarsh {

std::u16string ComputerNameUtf16(platform::TerminalServer& server, uint32_t name_type) {
  std::vector<char16_t> buffer(256);
  uint32_t size = static_cast<uint32_t>(buffer.size());
  if (!server.GetComputerNameExW(name_type, buffer.data(), &size)) {
    if (server.GetLastError() != platform::kErrorMoreData || size <= buffer.size()) return {};
    buffer.resize(size);
    if (!server.GetComputerNameExW(name_type, buffer.data(), &size)) return {};
  }
  if (size >= buffer.size()) return {};
  return std::u16string(buffer.data(), size);
}

std::string ComputerName(platform::TerminalServer& server, platform::System& system,
                         uint32_t name_type) {
  return system.Utf16ToAnsi(ComputerNameUtf16(server, name_type));
}

bool NamesThisMachine(platform::TerminalServer& server, platform::System& system,
                      std::string_view name) {
  const std::string upper_name = UpperAscii(name);
  for (std::string_view fixed : {"LOCALHOST", "127.0.0.1", "::1"}) {
    if (upper_name == fixed) return true;
  }
  for (uint32_t name_type : {platform::kComputerNameNetBios, platform::kComputerNameDnsHostname,
                             platform::kComputerNameDnsFullyQualified}) {
    const std::string own = ComputerName(server, system, name_type);
    if (!own.empty() && UpperAscii(own) == upper_name) return true;
  }
  return false;
}

}  // namespace quillmarsh
