// The legacy ANSI code page of Windows Server 2016 and 2019 in Western
// Europe, for a simulated server whose A answers are lossy as there.
#pragma once

#include <string>
#include <string_view>

namespace quillmarsh::simulated {

// Windows-1252 as WideCharToMultiByte writes it without
// WC_NO_BEST_FIT_CHARS: "?" for a character the code page lacks, but "L"
// and "l" for the Polish letters.
std::string Windows1252(std::string_view utf8);

}  // namespace quillmarsh::simulated
