// Session states as Terminal Services reports them; shared by the commands
// and the simulated server.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace quillmarsh::platform {

// The names of the WTS_CONNECTSTATE_CLASS values, indexed by state.
inline constexpr std::array<std::string_view, 10> SessionStateNames = {
    "Active", "Connected", "ConnectQuery", "Shadow", "Disconnected",
    "Idle",   "Listen",    "Reset",        "Down",   "Init",
};

inline constexpr uint32_t kStateActive = 0;
inline constexpr uint32_t kStateConnected = 1;
inline constexpr uint32_t kStateConnectQuery = 2;
inline constexpr uint32_t kStateShadow = 3;
inline constexpr uint32_t kStateDisconnected = 4;

}  // namespace quillmarsh::platform
