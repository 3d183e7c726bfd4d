// The time texts of the log's lines.
#pragma once

#include <string>

#include "platform/system.h"

namespace quillmarsh::log {

// DD-MM-YYYY HH:MM:SS.mmm (23 characters).
std::u16string TimeStamp(const platform::CalendarTime& time);
// DD-MM-YYYY HH:MM:SS.
std::u16string ShortDateTime(const platform::CalendarTime& time);
// HH:MM:SS.mmm.
std::u16string TimeOfDay(const platform::CalendarTime& time);

}  // namespace quillmarsh::log
