// The ring file over arbitrary existing contents and header values: opening
// it and writing lines must never crash, never leave the file beyond its
// maximum size, and always leave a valid header that points just after a
// whole line.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "log/log_file.h"
#include "platform/system.h"

namespace {

std::string Folder() {
  static const std::string folder = [] {
    char name[] = "/tmp/quillmarsh-fuzz-ring-XXXXXX";
    if (mkdtemp(name) == nullptr) std::abort();
    return std::string(name);
  }();
  return folder;
}

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "ring file broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  static auto system = quillmarsh::platform::CreateSystem();
  // Already in the stored form, so the file opened is this one.
  const std::string path = Folder() + "/ring.utf8.log";
  const int64_t max_kb = data.PickValueInArray<int64_t>({20, 21, 0, -5});
  const uint64_t max_size = quillmarsh::log::LogMaxSizeBytes(max_kb);

  // Existing contents: a header of the fuzzer's choosing, then filler that
  // may reach beyond the maximum size.
  std::string contents;
  if (data.ConsumeBool()) contents = "\xEF\xBB\xBF";
  contents += data.ConsumeBytesAsString(data.ConsumeIntegralInRange<size_t>(0, 20));
  contents.append(data.ConsumeIntegralInRange<size_t>(0, 24 * 1024),
                  static_cast<char>(data.ConsumeIntegral<uint8_t>()));
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << contents;
  }

  {
    quillmarsh::log::LogFile log(*system, quillmarsh::platform::Utf8ToUtf16(path), max_kb, 7);
    Check(log.Opened(), "not opened");
    const size_t lines = data.ConsumeIntegralInRange<size_t>(0, 400);
    const std::string text = data.ConsumeRandomLengthString(300);
    for (size_t i = 0; i < lines; ++i) {
      log.WriteLine(quillmarsh::platform::Utf8ToUtf16(text));
      if (i % 37 == 0) log.WriteHeader();
    }
    log.Close();
  }

  std::ifstream file(path, std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(file)), {});
  Check(written.size() <= max_size, "beyond the maximum size");
  Check(written.size() >= 16, "no header");
  Check(written.compare(0, 3, "\xEF\xBB\xBF") == 0, "no byte order mark");
  Check(written.compare(14, 2, "\r\n") == 0, "header does not end in CR LF");
  const std::string digits = written.substr(3, 11);
  const size_t first = digits.find_first_not_of(' ');
  Check(first != std::string::npos &&
            digits.find_first_not_of("0123456789", first) == std::string::npos,
        "offset is not right-aligned digits");
  const uint64_t offset = std::stoull(digits.substr(first));
  Check(offset >= 18 && offset <= written.size(), "offset out of range");
  Check(written.compare(offset - 2, 2, "\r\n") == 0, "offset not after a whole line");
  unlink(path.c_str());
  return 0;
}
