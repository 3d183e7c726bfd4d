#include "log/log_time.h"

namespace quillmarsh::log {
namespace {

// Writes `value` as `digits` decimal digits, zero-padded; returns the end.
char16_t* PutDigits(char16_t* out, unsigned value, int digits) {
  for (int i = digits - 1; i >= 0; --i) {
    out[i] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  }
  return out + digits;
}

char16_t* PutDate(char16_t* out, const platform::CalendarTime& time) {
  out = PutDigits(out, time.Day, 2);
  *out++ = u'-';
  out = PutDigits(out, time.Month, 2);
  *out++ = u'-';
  return PutDigits(out, time.Year, 4);
}

char16_t* PutClock(char16_t* out, const platform::CalendarTime& time) {
  out = PutDigits(out, time.Hour, 2);
  *out++ = u':';
  out = PutDigits(out, time.Minute, 2);
  *out++ = u':';
  return PutDigits(out, time.Second, 2);
}

char16_t* PutMilliseconds(char16_t* out, const platform::CalendarTime& time) {
  *out++ = u'.';
  return PutDigits(out, time.Milliseconds, 3);
}

}  // namespace

std::u16string_view FormatTimeStamp(const platform::CalendarTime& time, TimeStampBuffer& buffer) {
  char16_t* out = PutDate(buffer.data(), time);
  *out++ = u' ';
  out = PutClock(out, time);
  PutMilliseconds(out, time);
  return std::u16string_view(buffer.data(), buffer.size());
}

std::u16string TimeStamp(const platform::CalendarTime& time) {
  TimeStampBuffer buffer;
  return std::u16string(FormatTimeStamp(time, buffer));
}

std::u16string ShortDateTime(const platform::CalendarTime& time) {
  char16_t text[19];
  char16_t* out = PutDate(text, time);
  *out++ = u' ';
  PutClock(out, time);
  return std::u16string(text, 19);
}

std::u16string TimeOfDay(const platform::CalendarTime& time) {
  char16_t text[12];
  PutMilliseconds(PutClock(text, time), time);
  return std::u16string(text, 12);
}

}  // namespace quillmarsh::log
