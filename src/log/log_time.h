// The time texts of the log's lines.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "platform/system.h"

namespace quillmarsh::log {

// DD-MM-YYYY HH:MM:SS.mmm (23 characters).
std::u16string TimeStamp(const platform::CalendarTime& time);
// The same into a caller's buffer, without allocating.
using TimeStampBuffer = std::array<char16_t, 23>;
std::u16string_view FormatTimeStamp(const platform::CalendarTime& time, TimeStampBuffer& buffer);
// DD-MM-YYYY HH:MM:SS.
std::u16string ShortDateTime(const platform::CalendarTime& time);
// HH:MM:SS.mmm.
std::u16string TimeOfDay(const platform::CalendarTime& time);

}  // namespace quillmarsh::log
