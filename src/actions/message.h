#pragma once

#include <cstdint>
#include <string_view>

#include "sessions/session_scan.h"
#include "state/state.h"

namespace quillmarsh::actions {

// "/MESSAGETIMEOUT seconds": how long later message boxes stay open.
void MessageTimeoutCommand(State& state);

// The scan of the sessions a message box reaches (active, connected,
// connecting or shadowing; "/NOTME" holds), matched against `target`, the
// operand at argument `target_index`. "/MESSAGE" and "/ASK" share it.
sessions::ScanOptions MessageScanOptions(std::u16string_view target, int32_t target_index);

// "/MESSAGE user|*ALL text": a message box on each matching session.
void MessageCommand(State& state);

}  // namespace quillmarsh::actions
