#include "driver/temp_directory.h"

#include <cstring>

#include "state/zeroed_buffer.h"

namespace quillmarsh {

std::string TempDirectory(platform::System& system) {
  constexpr uint32_t kBufferSize = 1024;
  ZeroedBuffer buffer(kBufferSize);
  char* text = reinterpret_cast<char*>(buffer.data());
  uint32_t length = system.GetTempPathA(kBufferSize, text);
  if (length > 0 && length < kBufferSize) return std::string(text, strnlen(text, length));
  return "c:\\windows\\temp";
}

}  // namespace quillmarsh
