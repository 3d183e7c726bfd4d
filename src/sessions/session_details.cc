#include "sessions/session_details.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/file_time.h"
#include "platform/session_states.h"
#include "sessions/wts_buffer.h"
#include "state/error_text.h"

namespace quillmarsh::sessions {
namespace {

using platform::FileTimeFromUnixSeconds;

// 1970-01-01 and 10000-01-01: times outside are garbage, not dates.
constexpr int64_t kEarliestTime = FileTimeFromUnixSeconds(0);
constexpr int64_t kEndOfTime = FileTimeFromUnixSeconds(253'402'300'800);

int64_t KnownOrZero(int64_t file_time) {
  return file_time >= kEarliestTime && file_time < kEndOfTime ? file_time : 0;
}

std::string TwoDigits(int64_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", static_cast<int>(value));
  return text;
}

std::string DateText(const platform::CalendarTime& time, char separator) {
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u%c%02u:%02u", time.Year, time.Month, time.Day,
                separator, time.Hour, time.Minute);
  return text;
}

}  // namespace

std::optional<std::string> QuerySessionDetail(State& state, uintptr_t server, uint32_t session_id,
                                              uint32_t info_class) {
  WtsBuffer<char16_t> buffer(state.Server);
  uint32_t bytes = 0;
  if (!state.Server.WTSQuerySessionInformationW(server, session_id, info_class, buffer.address(),
                                                &bytes)) {
    const uint32_t error = FailureCode(state.Server.GetLastError());
    state.LogError("Error 6c");
    state.LogError(SystemErrorText(state.Server, error));
    return std::nullopt;
  }
  if (buffer.get() == nullptr) return std::string();
  return std::string(reinterpret_cast<const char*>(buffer.get()), bytes);
}

std::optional<SessionTimes> QuerySessionTimes(State& state, uintptr_t server, uint32_t session_id) {
  const std::optional<std::string> answer =
      QuerySessionDetail(state, server, session_id, platform::kWtsSessionInfo);
  if (!answer) return std::nullopt;
  SessionTimes times;
  platform::WtsInfo info;
  if (answer->size() >= sizeof info) {
    std::memcpy(&info, answer->data(), sizeof info);
    times.state = info.State;
    times.logon = KnownOrZero(info.LogonTime);
    times.connect = KnownOrZero(info.ConnectTime);
    times.disconnect = KnownOrZero(info.DisconnectTime);
    times.last_input = KnownOrZero(info.LastInputTime);
    times.current = KnownOrZero(info.CurrentTime);
  }
  return times;
}

std::optional<int64_t> IdleSeconds(const SessionTimes& times) {
  int64_t since = 0;
  if (times.state <= platform::kStateShadow) {
    since = times.last_input;
  } else if (times.state == platform::kStateDisconnected) {
    since = times.disconnect;
  }
  if (since == 0 || times.current == 0 || since > times.current) return std::nullopt;
  return (times.current - since) / platform::kFileTimeUnitsPerSecond;
}

bool IdleLongEnough(const State& state, const SessionTimes* times) {
  if (state.IdleMinutes == 0) return true;
  if (times == nullptr) return false;
  const std::optional<int64_t> idle = IdleSeconds(*times);
  return idle && *idle >= int64_t{60} * state.IdleMinutes;
}

bool IdleLongEnough(State& state, uintptr_t server, uint32_t session_id) {
  if (state.IdleMinutes == 0) return true;
  const std::optional<SessionTimes> times = QuerySessionTimes(state, server, session_id);
  return IdleLongEnough(state, times ? &*times : nullptr);
}

bool IdleLongEnough(State& state, const LookedUpSession& session) {
  return IdleLongEnough(state, state.TargetServer.handle(), session.record.SessionId);
}

std::string IdleText(int64_t seconds) {
  const int64_t minutes = seconds / 60;
  if (minutes < 24 * 60) return std::to_string(minutes / 60) + ":" + TwoDigits(minutes % 60);
  return std::to_string(minutes / (24 * 60)) + "+" + TwoDigits(minutes / 60 % 24) + ":" +
         TwoDigits(minutes % 60);
}

std::string UtcText(int64_t file_time) {
  if (file_time == 0) return {};
  const platform::CalendarTime time =
      platform::CalendarFromUnixSeconds(platform::UnixSecondsFromFileTime(file_time));
  return DateText(time, 'T') + ":" + TwoDigits(time.Second) + "Z";
}

std::string LocalMinuteText(platform::System& system, int64_t file_time) {
  platform::CalendarTime local;
  if (file_time == 0 || !system.LocalTimeOf(platform::CalendarFromUnixSeconds(
                                                platform::UnixSecondsFromFileTime(file_time)),
                                            &local)) {
    return "-";
  }
  return DateText(local, ' ');
}

std::string AddressText(const platform::WtsClientAddress& address) {
  const uint8_t* bytes = address.Address + 2;
  char text[48];
  if (address.AddressFamily == platform::kAfInet) {
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
  }
  if (address.AddressFamily != platform::kAfInet6) return {};
  unsigned groups[8];
  for (int i = 0; i < 8; ++i)
    groups[i] = static_cast<unsigned>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
  // An IPv4-mapped address keeps its dotted form.
  if (std::all_of(groups, groups + 5, [](unsigned group) { return group == 0; }) &&
      groups[5] == 0xFFFF) {
    std::snprintf(text, sizeof text, "::ffff:%u.%u.%u.%u", bytes[12], bytes[13], bytes[14],
                  bytes[15]);
    return text;
  }
  // The longest run of two or more zero groups, the first of equals, is "::".
  int run_start = -1, run_length = 0;
  for (int i = 0; i < 8;) {
    int length = 0;
    while (i + length < 8 && groups[i + length] == 0) ++length;
    if (length > run_length && length >= 2) {
      run_start = i;
      run_length = length;
    }
    i += length > 0 ? length : 1;
  }
  std::string result;
  for (int i = 0; i < 8; ++i) {
    if (i == run_start) {
      result += "::";
      i += run_length - 1;
      continue;
    }
    if (!result.empty() && result.back() != ':') result += ':';
    std::snprintf(text, sizeof text, "%x", groups[i]);
    result += text;
  }
  return result;
}

std::string CsvField(std::string_view text) {
  std::string field;
  if (!text.empty() && std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos) {
    field += '\'';
  }
  field.append(text);
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string quoted = "\"";
  for (char c : field) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

}  // namespace quillmarsh::sessions
