#include "log/log_time.h"

#include <cstdio>

#include "log/log_text.h"

namespace quillmarsh::log {
namespace {

std::string Date(const platform::CalendarTime& time) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u-%02u-%04u", time.Day % 100u, time.Month % 100u,
                time.Year % 10000u);
  return text;
}

std::string Clock(const platform::CalendarTime& time) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", time.Hour % 100u, time.Minute % 100u,
                time.Second % 100u);
  return text;
}

std::string Milliseconds(const platform::CalendarTime& time) {
  char text[8];
  std::snprintf(text, sizeof text, ".%03u", time.Milliseconds % 1000u);
  return text;
}

}  // namespace

std::u16string TimeStamp(const platform::CalendarTime& time) {
  return Widen(Date(time) + " " + Clock(time) + Milliseconds(time));
}

std::u16string ShortDateTime(const platform::CalendarTime& time) {
  return Widen(Date(time) + " " + Clock(time));
}

std::u16string TimeOfDay(const platform::CalendarTime& time) {
  return Widen(Clock(time) + Milliseconds(time));
}

}  // namespace quillmarsh::log
