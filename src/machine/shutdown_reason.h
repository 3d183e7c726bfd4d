// "/REASON [p:][u:]major:minor": the reason code of every later restart or
// power-off request, in the syntax of shutdown.exe's /d.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "state/state.h"

namespace quillmarsh::machine {

inline constexpr uint32_t kReasonFlagPlanned = 0x80000000;
inline constexpr uint32_t kReasonFlagUserDefined = 0x40000000;

// "p:" adds the planned flag, "u:" the user-defined one ("p:" first, any
// letter case); major 0 to 255, minor 0 to 65535. nullopt for anything else.
std::optional<uint32_t> ParseShutdownReason(std::string_view text);

void ReasonCommand(State& state);

}  // namespace quillmarsh::machine
