#include "machine/shutdown_reason.h"

#include <cstdio>
#include <string>

#include "state/text.h"

namespace quillmarsh::machine {

std::optional<uint32_t> ParseShutdownReason(std::string_view text) {
  text = Trim(text);
  uint32_t flags = 0;
  const auto take_prefix = [&text](char letter) {
    if (text.size() < 2 || (text[0] | 0x20) != letter || text[1] != ':') return false;
    text.remove_prefix(2);
    return true;
  };
  if (take_prefix('p')) flags |= kReasonFlagPlanned;
  if (take_prefix('u')) flags |= kReasonFlagUserDefined;
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  // Both numbers are plain digits: no blank, sign or further colon.
  const std::string_view major_text = text.substr(0, colon);
  const std::string_view minor_text = text.substr(colon + 1);
  if (Trim(major_text) != major_text || Trim(minor_text) != minor_text) return std::nullopt;
  const std::optional<uint32_t> major = ParseDecimalInRange(major_text, 0, 255);
  const std::optional<uint32_t> minor = ParseDecimalInRange(minor_text, 0, 65535);
  if (!major || !minor) return std::nullopt;
  return flags | *major << 16 | *minor;
}

void ReasonCommand(State& state) {
  const int32_t word_index = state.ArgIndex;
  state.ArgIndex += 2;
  if (state.ArgIndex - 1 > state.ParamCount()) {
    state.StopAt(word_index, "a reason [p:][u:]major:minor must follow");
    return;
  }
  const std::optional<uint32_t> reason = ParseShutdownReason(state.ParamStr(word_index + 1));
  if (!reason) {
    state.StopAt(word_index + 1,
                 "/REASON takes [p:][u:]major:minor, major 0 to 255 and minor 0 to 65535");
    return;
  }
  state.ShutdownReason = *reason;
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(*reason));
  state.LogInfo(std::string("Shutdown reason: ") + hex);
}

}  // namespace quillmarsh::machine
