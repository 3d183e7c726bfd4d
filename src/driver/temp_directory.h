#pragma once

#include <string>

#include "platform/system.h"

namespace quillmarsh {

// The temporary-files directory as GetTempPathA reports it, or
// "c:\windows\temp" when that fails or does not fit 1023 characters.
std::string TempDirectory(platform::System& system);

}  // namespace quillmarsh
