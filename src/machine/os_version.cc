#include "machine/os_version.h"

namespace quillmarsh::machine {
namespace {

// Frees a NetWkstaGetInfo buffer on every path.
class NetApiBuffer {
 public:
  explicit NetApiBuffer(platform::TerminalServer& server) : server_(server) {}
  ~NetApiBuffer() {
    if (buffer_ != nullptr) server_.NetApiBufferFree(buffer_);
  }
  NetApiBuffer(const NetApiBuffer&) = delete;
  NetApiBuffer& operator=(const NetApiBuffer&) = delete;

  platform::WkstaInfo100** address() { return &buffer_; }
  const platform::WkstaInfo100* get() const { return buffer_; }

 private:
  platform::TerminalServer& server_;
  platform::WkstaInfo100* buffer_ = nullptr;
};

}  // namespace

uint32_t DetermineOsMajorVersion(platform::TerminalServer& server) {
  uint32_t major = 0;
  if (!server.GetVersionExA(&major)) major = 0;

  NetApiBuffer info(server);
  uint32_t status = server.NetWkstaGetInfo(nullptr, 100, info.address());
  if (status == 0 && info.get() != nullptr && info.get()->wki100_ver_major != 0) {
    major = info.get()->wki100_ver_major;
  }
  return major;
}

}  // namespace quillmarsh::machine
