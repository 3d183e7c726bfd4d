// Reads the description with the JSON library's event (SAX) interface: the
// values go straight into the description, without building a document
// first, so that a server of many thousand sessions reads quickly.
#include "simulated/server_description.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/file_time.h"
#include "platform/session_states.h"
#include "platform/terminal_server.h"

namespace quillmarsh::simulated {

using namespace platform;

namespace {

using Json = nlohmann::json;

// One JSON value that is not an object or a list.
struct Scalar {
  enum class Kind { kNull, kBool, kUnsigned, kOther, kString };
  Kind kind;
  bool boolean = false;
  uint64_t number = 0;
  const std::string* text = nullptr;
};

// "S-1-5-32-544" as the bytes of a SID; empty when it is not one.
std::vector<uint8_t> ParseSid(const std::string& text) {
  std::vector<uint64_t> parts;
  if (text.rfind("S-", 0) != 0) return {};
  std::stringstream stream(text.substr(2));
  std::string part;
  while (std::getline(stream, part, '-')) {
    if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos ||
        part.size() > 15) {
      return {};
    }
    parts.push_back(std::stoull(part));
  }
  if (parts.size() < 2 || parts.size() > 17 || parts[0] != 1 || parts[1] > 0xFFFFFFFFFFFFULL) {
    return {};
  }
  std::vector<uint8_t> sid;
  sid.push_back(1);
  sid.push_back(static_cast<uint8_t>(parts.size() - 2));
  for (int shift = 40; shift >= 0; shift -= 8)
    sid.push_back(static_cast<uint8_t>(parts[1] >> shift));
  for (size_t i = 2; i < parts.size(); ++i) {
    if (parts[i] > 0xFFFFFFFFULL) return {};
    for (int shift = 0; shift < 32; shift += 8)
      sid.push_back(static_cast<uint8_t>(parts[i] >> shift));
  }
  return sid;
}

// "YYYY-MM-DDTHH:MM:SSZ", years 1601 to 9999, as a FILETIME.
std::optional<int64_t> ParseFileTime(const std::string& text) {
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z') {
    return std::nullopt;
  }
  const auto number = [&text](size_t at, size_t digits) -> int {
    int value = 0;
    for (size_t i = at; i < at + digits; ++i) {
      if (text[i] < '0' || text[i] > '9') return -1;
      value = value * 10 + (text[i] - '0');
    }
    return value;
  };
  const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
  const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
  if (year < 1601 || month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 59) {
    return std::nullopt;
  }
  CalendarTime time;
  time.Year = static_cast<uint16_t>(year);
  time.Month = static_cast<uint16_t>(month);
  time.Day = static_cast<uint16_t>(day);
  time.Hour = static_cast<uint16_t>(hour);
  time.Minute = static_cast<uint16_t>(minute);
  time.Second = static_cast<uint16_t>(second);
  const int64_t seconds = UnixSecondsFromCalendar(time);
  // A day beyond the month's end comes back as another date.
  if (CalendarFromUnixSeconds(seconds).Day != day) return std::nullopt;
  return FileTimeFromUnixSeconds(seconds);
}

// Dotted decimal, four parts of 0 to 255 without leading zeros.
bool ParseIpv4(std::string_view text, uint8_t* bytes) {
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (text.empty() || text[0] != '.') return false;
      text.remove_prefix(1);
    }
    size_t digits = 0;
    unsigned value = 0;
    while (digits < text.size() && digits < 4 && text[digits] >= '0' && text[digits] <= '9') {
      value = value * 10 + static_cast<unsigned>(text[digits] - '0');
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[0] == '0')) return false;
    bytes[part] = static_cast<uint8_t>(value);
    text.remove_prefix(digits);
  }
  return text.empty();
}

// Eight groups of hexadecimal digits; "::" once for a run of zero groups,
// and the last two groups may be written as an IPv4 address.
bool ParseIpv6(std::string_view text, uint8_t* bytes) {
  std::array<uint16_t, 8> groups{};
  size_t count = 0;
  std::optional<size_t> gap;
  if (text.substr(0, 2) == "::") {
    gap = 0;
    text.remove_prefix(2);
  }
  while (!text.empty()) {
    if (count == 8) return false;
    if (count <= 6 && text.find('.') != std::string_view::npos &&
        text.find(':') == std::string_view::npos) {
      uint8_t four[4];
      if (!ParseIpv4(text, four)) return false;
      groups[count++] = static_cast<uint16_t>(four[0] << 8 | four[1]);
      groups[count++] = static_cast<uint16_t>(four[2] << 8 | four[3]);
      text = {};
      break;
    }
    size_t digits = 0;
    unsigned value = 0;
    while (digits < text.size() && std::isxdigit(static_cast<unsigned char>(text[digits]))) {
      const char c = text[digits];
      value = value * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
      ++digits;
    }
    if (digits == 0 || digits > 4) return false;
    groups[count++] = static_cast<uint16_t>(value);
    text.remove_prefix(digits);
    if (text.substr(0, 2) == "::") {
      if (gap) return false;
      gap = count;
      text.remove_prefix(2);
    } else if (!text.empty()) {
      if (text[0] != ':' || text.size() == 1) return false;
      text.remove_prefix(1);
    }
  }
  if (gap ? count > 7 : count != 8) return false;
  if (gap) {
    const size_t moved = count - *gap;
    std::copy_backward(groups.begin() + static_cast<long>(*gap),
                       groups.begin() + static_cast<long>(count), groups.end());
    std::fill(groups.begin() + static_cast<long>(*gap), groups.end() - static_cast<long>(moved), 0);
  }
  for (size_t i = 0; i < 8; ++i) {
    bytes[2 * i] = static_cast<uint8_t>(groups[i] >> 8);
    bytes[2 * i + 1] = static_cast<uint8_t>(groups[i]);
  }
  return true;
}

class DescriptionReader {
 public:
  explicit DescriptionReader(ServerDescription* server) : server_(*server) {}

  const std::string& error() const { return error_; }

  // The JSON library's event interface.
  bool null() { return Value({Scalar::Kind::kNull}); }
  bool boolean(bool value) { return Value({Scalar::Kind::kBool, value}); }
  bool number_integer(int64_t value) {
    return value < 0 ? Value({Scalar::Kind::kOther})
                     : Value({Scalar::Kind::kUnsigned, false, static_cast<uint64_t>(value)});
  }
  bool number_unsigned(uint64_t value) { return Value({Scalar::Kind::kUnsigned, false, value}); }
  bool number_float(double, const std::string&) { return Value({Scalar::Kind::kOther}); }
  bool string(std::string& value) { return Value({Scalar::Kind::kString, false, 0, &value}); }
  bool binary(Json::binary_t&) { return Value({Scalar::Kind::kOther}); }
  bool start_object(size_t);
  bool key(std::string& name);
  bool end_object();
  bool start_array(size_t);
  bool end_array() {
    frames_.pop_back();
    return true;
  }
  bool parse_error(size_t, const std::string&, const nlohmann::detail::exception& failure) {
    error_ = std::string("not valid JSON: ") + failure.what();
    return false;
  }

 private:
  enum class Frame {
    kRoot,
    kToken,
    kTokenEntry,
    kGroups,
    kCurrentSession,
    kSessions,
    kSession,
    kServers,
    kServer,
    kLogonMode,
    kProcesses,
    kProcess,
    kReplacement,
    kStateAfter,
  };

  bool Fail(std::string message) {
    if (error_.empty()) error_ = std::move(message);
    return false;
  }
  bool WrongType(const char* what) { return Fail("\"" + key_ + "\" must be " + what); }

  bool Unsigned(const Scalar& value, uint32_t* target) {
    if (value.kind != Scalar::Kind::kUnsigned || value.number > 0xFFFFFFFFULL) {
      return WrongType("a whole number from 0 to 4294967295");
    }
    *target = static_cast<uint32_t>(value.number);
    return true;
  }
  bool NullableUnsigned(const Scalar& value, std::optional<uint32_t>* target) {
    if (value.kind == Scalar::Kind::kNull) {
      target->reset();
      return true;
    }
    uint32_t number = 0;
    if (!Unsigned(value, &number)) return false;
    *target = number;
    return true;
  }
  bool Text(const Scalar& value, std::string* target) {
    if (value.kind != Scalar::Kind::kString) return WrongType("a text");
    *target = *value.text;
    return true;
  }
  bool Boolean(const Scalar& value, bool* target) {
    if (value.kind != Scalar::Kind::kBool) return WrongType("true or false");
    *target = value.boolean;
    return true;
  }

  // A time "YYYY-MM-DDTHH:MM:SSZ" as a FILETIME; null is 0 (unknown).
  bool TimeValue(const Scalar& value, int64_t* target);
  bool ClockValue(const Scalar& value, std::optional<int64_t>* target);
  bool AddressValue(const Scalar& value, SimulatedSession* session);

  bool Value(const Scalar& value);
  bool RootValue(const Scalar& value);
  bool TokenEntryValue(const Scalar& value);
  bool SessionValue(const Scalar& value);
  bool RemoteServerValue(const Scalar& value);
  bool ProcessValue(const Scalar& value);
  bool ReplacementValue(const Scalar& value);
  bool OwnerValue(const Scalar& value, std::optional<std::string>* owner);
  // A state name of the state table, or a number.
  bool StateValue(const Scalar& value, uint32_t* target);
  // "yes", "no", "timeout" or a number: a message box's pResponse.
  bool AnswerValue(const Scalar& value, uint32_t* target);

  ServerDescription& server_;
  std::vector<Frame> frames_;
  std::string key_;
  std::string error_;
  SimulatedToken* token_ = nullptr;
  // The list that a "sessions" key fills: the server's own or another's.
  std::vector<SimulatedSession>* session_list_ = nullptr;
  // The logon mode that a "logon_mode" object fills: the server's own or
  // another's.
  SimulatedLogonMode* logon_mode_ = nullptr;
  bool session_has_id_ = false;
  bool session_has_state_ = false;
  bool process_has_pid_ = false;
  bool process_has_image_ = false;
  bool state_after_has_after_ = false;
  bool state_after_has_state_ = false;
};

bool DescriptionReader::start_object(size_t) {
  if (frames_.empty()) {
    frames_.push_back(Frame::kRoot);
    return true;
  }
  const Frame frame = frames_.back();
  if (frame == Frame::kSessions) {
    session_list_->emplace_back();
    session_has_id_ = session_has_state_ = false;
    frames_.push_back(Frame::kSession);
  } else if (frame == Frame::kProcesses) {
    session_list_->back().processes.emplace_back();
    process_has_pid_ = process_has_image_ = false;
    frames_.push_back(Frame::kProcess);
  } else if (frame == Frame::kProcess && key_ == "replaced_by") {
    session_list_->back().processes.back().replaced_by.emplace();
    frames_.push_back(Frame::kReplacement);
  } else if (frame == Frame::kSession && key_ == "state_after") {
    state_after_has_after_ = state_after_has_state_ = false;
    frames_.push_back(Frame::kStateAfter);
  } else if (frame == Frame::kRoot && key_ == "token") {
    frames_.push_back(Frame::kToken);
  } else if (frame == Frame::kRoot && key_ == "current_session") {
    frames_.push_back(Frame::kCurrentSession);
  } else if (frame == Frame::kRoot && key_ == "servers") {
    frames_.push_back(Frame::kServers);
  } else if ((frame == Frame::kRoot || frame == Frame::kServer) && key_ == "logon_mode") {
    logon_mode_ = frame == Frame::kRoot ? &server_.logon_mode : &server_.servers.back().logon_mode;
    frames_.push_back(Frame::kLogonMode);
  } else if (frame == Frame::kServers) {
    server_.servers.back().name = key_;
    frames_.push_back(Frame::kServer);
  } else if (frame == Frame::kToken && (key_ == "thread" || key_ == "process")) {
    auto& token = key_ == "thread" ? server_.thread_token : server_.process_token;
    token = SimulatedToken{};
    token_ = &*token;
    frames_.push_back(Frame::kTokenEntry);
  } else {
    return Value({Scalar::Kind::kOther});
  }
  return true;
}

bool DescriptionReader::key(std::string& name) {
  static const std::vector<std::string_view> kKeys[] = {
      // kRoot
      {"own_session",
       "user_name",
       "os_major",
       "netwksta_major",
       "token",
       "enumerate_error",
       "current_session",
       "exit_windows_error",
       "sessions",
       "servers",
       "utc_ms_of_day",
       "virtual_sleep",
       "computer_name",
       "dns_name",
       "shutdown_pending",
       "initiate_shutdown_error",
       "abort_error",
       "current_time",
       "shutdown_in_progress",
       "logon_mode",
       "logon_mode_error",
       "logon_mode_write_error",
       "enumerate_processes_error",
       "ansi_code_page",
       "console_session"},
      // kToken
      {"thread", "process", "shutdown_privilege"},
      // kTokenEntry
      {"groups", "groups_error", "groups_bytes", "elevation_type", "elevation_error"},
      {},
      // kCurrentSession
      {"disconnect_error", "logoff_error"},
      {},
      // kSession
      {"id",
       "station",
       "state",
       "user",
       "domain",
       "user_error",
       "domain_error",
       "send_error",
       "disconnect_error",
       "logoff_error",
       "recheck_state",
       "recheck_error",
       "logon_time",
       "connect_time",
       "disconnect_time",
       "last_input_time",
       "client_name",
       "client_address",
       "info_error",
       "processes",
       "connect_error",
       "answer",
       "answer_ms",
       "leaves_after_s",
       "state_after"},
      // kServers: any name
      {},
      // kServer
      {"sessions", "enumerate_error", "shutdown_error", "abort_error", "shutdown_pending",
       "delay_ms", "current_time", "shutdown_in_progress", "logon_mode", "logon_mode_error",
       "logon_mode_write_error", "logon_mode_delay_ms", "enumerate_processes_error",
       "computer_name"},
      // kLogonMode
      {"drain", "logons"},
      // kProcesses
      {},
      // kProcess
      {"pid", "image", "owner", "threads", "handles", "working_set", "peak_working_set", "pagefile",
       "user_ms", "kernel_ms", "terminate_error", "exits_after_listing", "replaced_by"},
      // kReplacement
      {"image", "owner", "session"},
      // kStateAfter
      {"after_s", "state"},
  };
  static const char* kWhere[] = {"the server",
                                 "\"token\"",
                                 "a token",
                                 "",
                                 "\"current_session\"",
                                 "",
                                 "a session",
                                 "",
                                 "another server",
                                 "\"logon_mode\"",
                                 "",
                                 "a process",
                                 "\"replaced_by\"",
                                 "\"state_after\""};
  if (frames_.back() == Frame::kServers) {
    for (const SimulatedRemoteServer& other : server_.servers) {
      if (SameServerName(other.name, name)) return Fail("server \"" + name + "\" is named twice");
    }
    server_.servers.emplace_back();
    key_ = std::move(name);
    return true;
  }
  const auto frame = static_cast<size_t>(frames_.back());
  bool known = false;
  for (std::string_view allowed : kKeys[frame]) known = known || allowed == name;
  if (!known) return Fail("unknown key \"" + name + "\" in " + kWhere[frame]);
  key_ = std::move(name);
  return true;
}

bool DescriptionReader::end_object() {
  const Frame frame = frames_.back();
  frames_.pop_back();
  if (frame == Frame::kSession) {
    if (!session_has_id_) return Fail("a session has no \"id\"");
    if (!session_has_state_) return Fail("a session has no \"state\"");
  }
  if (frame == Frame::kStateAfter && (!state_after_has_after_ || !state_after_has_state_)) {
    return Fail("\"state_after\" needs \"after_s\" and \"state\"");
  }
  if (frame == Frame::kProcess) {
    if (!process_has_pid_) return Fail("a process has no \"pid\"");
    if (!process_has_image_) return Fail("a process has no \"image\"");
  }
  if (frame == Frame::kTokenEntry && token_->elevation_type > 3) {
    return Fail("\"elevation_type\" must be 0 to 3");
  }
  return true;
}

bool DescriptionReader::start_array(size_t) {
  const Frame frame = frames_.empty() ? Frame::kRoot : frames_.back();
  if (!frames_.empty() && (frame == Frame::kRoot || frame == Frame::kServer) &&
      key_ == "sessions") {
    session_list_ = frame == Frame::kRoot ? &server_.sessions : &server_.servers.back().sessions;
    session_list_->clear();
    frames_.push_back(Frame::kSessions);
  } else if (frame == Frame::kSession && key_ == "processes") {
    session_list_->back().processes.clear();
    frames_.push_back(Frame::kProcesses);
  } else if (frame == Frame::kTokenEntry && key_ == "groups") {
    token_->groups.clear();
    frames_.push_back(Frame::kGroups);
  } else {
    return Value({Scalar::Kind::kOther});
  }
  return true;
}

bool DescriptionReader::Value(const Scalar& value) {
  if (frames_.empty()) return Fail("the server must be an object");
  switch (frames_.back()) {
    case Frame::kRoot:
      return RootValue(value);
    case Frame::kToken:
      if (key_ == "shutdown_privilege") return Boolean(value, &server_.shutdown_privilege);
      if (value.kind != Scalar::Kind::kNull) return WrongType("an object or null");
      (key_ == "thread" ? server_.thread_token : server_.process_token).reset();
      return true;
    case Frame::kTokenEntry:
      return TokenEntryValue(value);
    case Frame::kGroups: {
      key_ = "groups";
      std::string text;
      if (!Text(value, &text)) return false;
      std::vector<uint8_t> sid = ParseSid(text);
      if (sid.empty()) return Fail("\"" + text + "\" is not a SID");
      token_->groups.push_back(std::move(sid));
      return true;
    }
    case Frame::kCurrentSession:
      return Unsigned(value, key_ == "disconnect_error" ? &server_.current_disconnect_error
                                                        : &server_.current_logoff_error);
    case Frame::kSessions:
      return Fail("a session must be an object");
    case Frame::kSession:
      return SessionValue(value);
    case Frame::kServers:
      return WrongType("an object");
    case Frame::kServer:
      return RemoteServerValue(value);
    case Frame::kLogonMode:
      return Unsigned(value, key_ == "drain" ? &logon_mode_->drain : &logon_mode_->logons);
    case Frame::kProcesses:
      return Fail("a process must be an object");
    case Frame::kProcess:
      return ProcessValue(value);
    case Frame::kReplacement:
      return ReplacementValue(value);
    case Frame::kStateAfter: {
      SimulatedSession& session = session_list_->back();
      if (key_ == "state") {
        state_after_has_state_ = true;
        return StateValue(value, &session.state_after);
      }
      state_after_has_after_ = true;
      uint32_t after = 0;
      if (!Unsigned(value, &after)) return false;
      session.state_after_s = after;
      return true;
    }
  }
  return false;
}

bool DescriptionReader::RootValue(const Scalar& value) {
  if (key_ == "own_session") return NullableUnsigned(value, &server_.own_session);
  if (key_ == "os_major") return NullableUnsigned(value, &server_.os_major);
  if (key_ == "netwksta_major") return NullableUnsigned(value, &server_.netwksta_major);
  if (key_ == "utc_ms_of_day") return NullableUnsigned(value, &server_.utc_ms_of_day);
  if (key_ == "enumerate_error") return Unsigned(value, &server_.enumerate_error);
  if (key_ == "exit_windows_error") return Unsigned(value, &server_.exit_windows_error);
  if (key_ == "virtual_sleep") return Boolean(value, &server_.virtual_sleep);
  if (key_ == "shutdown_pending") return Boolean(value, &server_.shutdown_pending);
  if (key_ == "shutdown_in_progress") return Boolean(value, &server_.shutdown_in_progress);
  if (key_ == "initiate_shutdown_error") return Unsigned(value, &server_.initiate_shutdown_error);
  if (key_ == "abort_error") return Unsigned(value, &server_.abort_error);
  if (key_ == "enumerate_processes_error") {
    return Unsigned(value, &server_.enumerate_processes_error);
  }
  if (key_ == "dns_name") return Text(value, &server_.dns_name);
  if (key_ == "ansi_code_page") {
    if (!Unsigned(value, &server_.ansi_code_page)) return false;
    if (server_.ansi_code_page == 65001 || server_.ansi_code_page == 1252) return true;
    return Fail("\"ansi_code_page\" must be 65001 or 1252");
  }
  if (key_ == "console_session") return Unsigned(value, &server_.console_session);
  if (key_ == "current_time") return ClockValue(value, &server_.current_time);
  if (key_ == "logon_mode_error") return Unsigned(value, &server_.logon_mode.error);
  if (key_ == "logon_mode_write_error") return Unsigned(value, &server_.logon_mode.write_error);
  if (key_ == "computer_name") {
    std::string name;
    if (!Text(value, &name)) return false;
    server_.computer_name = std::move(name);
    return true;
  }
  if (key_ == "user_name") {
    server_.user_name_fails = value.kind == Scalar::Kind::kNull;
    if (server_.user_name_fails) {
      server_.user_name.reset();
      return true;
    }
    std::string name;
    if (!Text(value, &name)) return false;
    server_.user_name = std::move(name);
    return true;
  }
  if (key_ == "sessions") return WrongType("a list");
  return WrongType("an object");  // "token", "current_session", "servers"
}

bool DescriptionReader::TokenEntryValue(const Scalar& value) {
  if (key_ == "groups") return WrongType("a list");
  if (key_ == "groups_error") return Unsigned(value, &token_->groups_error);
  if (key_ == "groups_bytes") return Unsigned(value, &token_->groups_bytes);
  if (key_ == "elevation_type") return Unsigned(value, &token_->elevation_type);
  return Unsigned(value, &token_->elevation_error);
}

bool DescriptionReader::SessionValue(const Scalar& value) {
  SimulatedSession& session = session_list_->back();
  if (key_ == "id") {
    session_has_id_ = true;
    return Unsigned(value, &session.id);
  }
  if (key_ == "state") {
    session_has_state_ = true;
    return StateValue(value, &session.state);
  }
  if (key_ == "recheck_state") {
    uint32_t state = 0;
    if (!StateValue(value, &state)) return false;
    session.recheck_state = state;
    return true;
  }
  if (key_ == "recheck_error") return Unsigned(value, &session.recheck_error);
  if (key_ == "logon_time") return TimeValue(value, &session.logon_time);
  if (key_ == "connect_time") return TimeValue(value, &session.connect_time);
  if (key_ == "disconnect_time") return TimeValue(value, &session.disconnect_time);
  if (key_ == "last_input_time") return TimeValue(value, &session.last_input_time);
  if (key_ == "client_name") return Text(value, &session.client_name);
  if (key_ == "client_address") return AddressValue(value, &session);
  if (key_ == "info_error") return Unsigned(value, &session.info_error);
  if (key_ == "processes") return WrongType("a list");
  if (key_ == "state_after") return WrongType("an object");
  if (key_ == "answer") return AnswerValue(value, &session.answer);
  if (key_ == "answer_ms") return Unsigned(value, &session.answer_ms);
  if (key_ == "leaves_after_s") {
    uint32_t seconds = 0;
    if (!Unsigned(value, &seconds)) return false;
    session.leaves_after_s = seconds;
    return true;
  }
  if (key_ == "station") return Text(value, &session.station);
  if (key_ == "user") return Text(value, &session.user);
  if (key_ == "domain") return Text(value, &session.domain);
  if (key_ == "user_error") return Unsigned(value, &session.user_error);
  if (key_ == "domain_error") return Unsigned(value, &session.domain_error);
  if (key_ == "send_error") return Unsigned(value, &session.send_error);
  if (key_ == "disconnect_error") return Unsigned(value, &session.disconnect_error);
  if (key_ == "connect_error") return Unsigned(value, &session.connect_error);
  return Unsigned(value, &session.logoff_error);
}

bool DescriptionReader::StateValue(const Scalar& value, uint32_t* target) {
  if (value.kind != Scalar::Kind::kString) return Unsigned(value, target);
  for (size_t i = 0; i < SessionStateNames.size(); ++i) {
    if (SessionStateNames[i] == *value.text) {
      *target = static_cast<uint32_t>(i);
      return true;
    }
  }
  return Fail("\"" + *value.text + "\" is not a session state");
}

bool DescriptionReader::AnswerValue(const Scalar& value, uint32_t* target) {
  if (value.kind != Scalar::Kind::kString) return Unsigned(value, target);
  for (auto [name, response] : {std::pair{"yes", 6u}, {"no", 7u}, {"timeout", 32000u}}) {
    if (*value.text == name) {
      *target = response;
      return true;
    }
  }
  return Fail("\"" + *value.text + "\" is not an answer (yes, no, timeout or a number)");
}

bool DescriptionReader::RemoteServerValue(const Scalar& value) {
  SimulatedRemoteServer& remote = server_.servers.back();
  if (key_ == "sessions") return WrongType("a list");
  if (key_ == "shutdown_pending") return Boolean(value, &remote.shutdown_pending);
  if (key_ == "shutdown_in_progress") return Boolean(value, &remote.shutdown_in_progress);
  if (key_ == "enumerate_error") return Unsigned(value, &remote.enumerate_error);
  if (key_ == "shutdown_error") return Unsigned(value, &remote.shutdown_error);
  if (key_ == "abort_error") return Unsigned(value, &remote.abort_error);
  if (key_ == "current_time") return ClockValue(value, &remote.current_time);
  if (key_ == "logon_mode") return WrongType("an object");
  if (key_ == "logon_mode_error") return Unsigned(value, &remote.logon_mode.error);
  if (key_ == "logon_mode_write_error") return Unsigned(value, &remote.logon_mode.write_error);
  if (key_ == "logon_mode_delay_ms") return Unsigned(value, &remote.logon_mode.delay_ms);
  if (key_ == "enumerate_processes_error") {
    return Unsigned(value, &remote.enumerate_processes_error);
  }
  if (key_ == "computer_name") {
    std::string name;
    if (!Text(value, &name)) return false;
    remote.computer_name = std::move(name);
    return true;
  }
  return Unsigned(value, &remote.delay_ms);
}

bool DescriptionReader::ProcessValue(const Scalar& value) {
  SimulatedProcess& process = session_list_->back().processes.back();
  if (key_ == "pid") {
    process_has_pid_ = true;
    return Unsigned(value, &process.pid);
  }
  if (key_ == "image") {
    process_has_image_ = true;
    return Text(value, &process.image);
  }
  if (key_ == "owner") return OwnerValue(value, &process.owner);
  if (key_ == "exits_after_listing") return Boolean(value, &process.exits_after_listing);
  if (key_ == "replaced_by") return WrongType("an object");
  for (auto [name, field] : {std::pair{"threads", &SimulatedProcess::threads},
                             {"handles", &SimulatedProcess::handles},
                             {"working_set", &SimulatedProcess::working_set},
                             {"peak_working_set", &SimulatedProcess::peak_working_set},
                             {"pagefile", &SimulatedProcess::pagefile},
                             {"user_ms", &SimulatedProcess::user_ms},
                             {"kernel_ms", &SimulatedProcess::kernel_ms}}) {
    if (key_ == name) return Unsigned(value, &(process.*field));
  }
  return Unsigned(value, &process.terminate_error);
}

bool DescriptionReader::ReplacementValue(const Scalar& value) {
  SimulatedProcess::Replacement& replacement = *session_list_->back().processes.back().replaced_by;
  if (key_ == "image") return Text(value, &replacement.image);
  if (key_ == "owner") return OwnerValue(value, &replacement.owner);
  uint32_t session = 0;
  if (!Unsigned(value, &session)) return false;
  replacement.session = session;
  return true;
}

bool DescriptionReader::OwnerValue(const Scalar& value, std::optional<std::string>* owner) {
  if (value.kind == Scalar::Kind::kNull) {
    owner->reset();
    return true;
  }
  std::string text;
  if (!Text(value, &text)) return false;
  *owner = std::move(text);
  return true;
}

bool DescriptionReader::TimeValue(const Scalar& value, int64_t* target) {
  if (value.kind == Scalar::Kind::kNull) {
    *target = 0;
    return true;
  }
  std::optional<int64_t> time;
  if (value.kind == Scalar::Kind::kString) time = ParseFileTime(*value.text);
  if (!time) return WrongType("a time YYYY-MM-DDTHH:MM:SSZ (years 1601 to 9999) or null");
  *target = *time;
  return true;
}

bool DescriptionReader::ClockValue(const Scalar& value, std::optional<int64_t>* target) {
  if (value.kind == Scalar::Kind::kNull) {
    target->reset();
    return true;
  }
  int64_t time = 0;
  if (!TimeValue(value, &time)) return false;
  *target = time;
  return true;
}

bool DescriptionReader::AddressValue(const Scalar& value, SimulatedSession* session) {
  if (value.kind != Scalar::Kind::kString) return WrongType("an IPv4 or IPv6 address");
  session->client_address.fill(0);
  if (ParseIpv4(*value.text, session->client_address.data())) {
    session->client_family = kAfInet;
  } else if (ParseIpv6(*value.text, session->client_address.data())) {
    session->client_family = kAfInet6;
  } else {
    return WrongType("an IPv4 or IPv6 address");
  }
  return true;
}

}  // namespace

bool SameServerName(std::string_view first, std::string_view second) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return first.size() == second.size() &&
         std::equal(first.begin(), first.end(), second.begin(),
                    [&lower](char a, char b) { return lower(a) == lower(b); });
}

std::optional<ServerDescription> ReadServerDescription(std::string_view json, std::string* error) {
  ServerDescription server;
  // Every session is an object: the count of "{" bounds the count of
  // sessions, so the list is never copied while it grows.
  server.sessions.reserve(static_cast<size_t>(std::count(json.begin(), json.end(), '{')));
  DescriptionReader reader(&server);
  if (!Json::sax_parse(json.begin(), json.end(), &reader)) {
    *error = reader.error().empty() ? "not valid JSON" : reader.error();
    return std::nullopt;
  }
  return server;
}

}  // namespace quillmarsh::simulated
