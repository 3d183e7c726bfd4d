// Arbitrary message texts (control characters, lone CR or LF, invalid bytes,
// very long texts) through the log's formatter: never a crash, and every
// line within its layout.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "log/log_format.h"
#include "platform/system.h"

namespace {

const std::u16string kStamp = u"08-12-2026 07:19:57.123";

void Check(bool condition, const char* what, const std::u16string& line) {
  if (!condition) {
    std::fprintf(stderr, "line breaks its layout: %s (%zu units)\n", what, line.size());
    std::abort();
  }
}

void CheckLine(const std::u16string& line) {
  Check(line.size() >= 26, "too short", line);
  const std::u16string prefix = line.substr(0, 23);
  Check(prefix == kStamp || prefix == std::u16string(23, u' '), "no stamp", line);
  const std::u16string kind = line.substr(23, 3);
  Check(kind == u"|I|" || kind == u"|E|", "no kind", line);
  // Indent of up to 10 dots, then at most 220 units, or a summary of at
  // most 210 units with " [count x]".
  Check(line.size() <= 26 + 10 + 220 || (line.size() <= 26 + 10 + 210 + 14 && line.back() == u']'),
        "too long", line);
  Check(line.find(u"\r\n") == std::u16string::npos, "CR LF inside", line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  quillmarsh::log::LogFormatter formatter(CheckLine);
  while (data.remaining_bytes() > 0) {
    const auto kind = data.ConsumeBool() ? quillmarsh::log::LogKind::kInformation
                                         : quillmarsh::log::LogKind::kError;
    std::string text = data.ConsumeRandomLengthString(2000);
    if (data.ConsumeBool()) text.append(text);  // repeats and long texts
    // The returned first line is for callers, not the file: only the lines
    // handed to the sink are checked.
    formatter.Message(kind, quillmarsh::platform::Utf8ToUtf16(text), kStamp);
    if (formatter.Indent().size() > 10) std::abort();
  }
  formatter.FlushSummaries();
  return 0;
}
