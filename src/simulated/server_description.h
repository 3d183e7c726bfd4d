// The simulated terminal server's description, read from its JSON file.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmarsh::simulated {

struct SimulatedToken {
  std::vector<std::vector<uint8_t>> groups;  // binary SIDs
  uint32_t groups_error = 0;
  uint32_t groups_bytes = 0;
  uint32_t elevation_type = 1;
  uint32_t elevation_error = 0;
};

// One process of a session, as WTSEnumerateProcessesExW reports it.
struct SimulatedProcess {
  uint32_t pid = 0;
  std::string image;
  // "DOMAIN\user"; absent: the process has no SID.
  std::optional<std::string> owner;
  uint32_t threads = 0;
  uint32_t handles = 0;
  uint32_t working_set = 0;
  uint32_t peak_working_set = 0;
  uint32_t pagefile = 0;
  uint32_t user_ms = 0;
  uint32_t kernel_ms = 0;
  uint32_t terminate_error = 0;
  // Once an enumeration has listed it, the process is gone.
  bool exits_after_listing = false;
  // Once an enumeration has listed it, the process is gone and its pid
  // belongs to this other process.
  struct Replacement {
    std::string image;
    std::optional<std::string> owner;
    // Absent: the session of the process it replaces.
    std::optional<uint32_t> session;
  };
  std::optional<Replacement> replaced_by;
};

struct SimulatedSession {
  uint32_t id = 0;
  std::string station;
  uint32_t state = 0;
  // In the code page of the A answers once the server is made.
  std::string user;
  std::string domain;
  // As the server holds them, for the W answers.
  std::u16string wide_user;
  std::u16string wide_domain;
  uint32_t user_error = 0;
  uint32_t domain_error = 0;
  uint32_t send_error = 0;
  uint32_t disconnect_error = 0;
  uint32_t logoff_error = 0;
  // What a WTSConnectState query reports; absent: `state`.
  std::optional<uint32_t> recheck_state;
  uint32_t recheck_error = 0;
  // What WTSQuerySessionInformationW answers. Times are FILETIME values,
  // 0 when unknown.
  int64_t logon_time = 0;
  int64_t connect_time = 0;
  int64_t disconnect_time = 0;
  int64_t last_input_time = 0;
  std::string client_name;
  // kAfInet or kAfInet6 with the address bytes; 0: no address.
  uint32_t client_family = 0;
  std::array<uint8_t, 16> client_address{};
  uint32_t info_error = 0;
  std::vector<SimulatedProcess> processes;
  // Nonzero: WTSConnectSessionW with this session as LogonId fails with it.
  uint32_t connect_error = 0;
  // What the user answers a message box that waits (pResponse), and the
  // real time before the answer comes.
  uint32_t answer = 32000;  // IDTIMEOUT
  uint32_t answer_ms = 0;
  // Once the server's clock has moved on this many seconds, the session is
  // gone.
  std::optional<uint32_t> leaves_after_s;
  // From `state_after_s` seconds on, the session has `state_after`.
  std::optional<uint32_t> state_after_s;
  uint32_t state_after = 0;
};

// A server's logon mode (Win32_TerminalServiceSetting) and the failures of
// reading and writing it.
struct SimulatedLogonMode {
  uint32_t drain = 0;
  uint32_t logons = 0;
  // Reading and writing fail with this code.
  uint32_t error = 0;
  // Writing fails with this code.
  uint32_t write_error = 0;
  // Reading and writing wait this long (real time).
  uint32_t delay_ms = 0;
};

// Another terminal server that "/SERVER name" reaches.
struct SimulatedRemoteServer {
  std::string name;
  std::vector<SimulatedSession> sessions;
  uint32_t enumerate_error = 0;
  uint32_t shutdown_error = 0;
  uint32_t abort_error = 0;
  // A restart or power-off countdown runs there when the program starts.
  bool shutdown_pending = false;
  // The machine is shutting down already.
  bool shutdown_in_progress = false;
  // Every call that reaches the server waits this long (real time).
  uint32_t delay_ms = 0;
  // Its clock as a FILETIME; absent: the real clock.
  std::optional<int64_t> current_time;
  SimulatedLogonMode logon_mode;
  uint32_t enumerate_processes_error = 0;
  // What NetWkstaGetInfo for this server answers as its own name; absent:
  // the name up to its first ".", upper-cased, at most 15 characters.
  std::optional<std::string> computer_name;
};

struct ServerDescription {
  // False: the machine has no Terminal Services at all.
  bool terminal_services = true;
  std::optional<uint32_t> own_session;
  // Absent: the real account name; `user_name_fails`: the look-up fails.
  std::optional<std::string> user_name;
  bool user_name_fails = false;
  std::optional<uint32_t> os_major = 10;
  std::optional<uint32_t> netwksta_major;
  std::optional<SimulatedToken> thread_token;
  std::optional<SimulatedToken> process_token = SimulatedToken{};
  bool shutdown_privilege = true;
  uint32_t enumerate_error = 0;
  uint32_t current_disconnect_error = 0;
  uint32_t current_logoff_error = 0;
  uint32_t exit_windows_error = 0;
  std::vector<SimulatedSession> sessions;
  // Names are unique without regard to ASCII letter case.
  std::vector<SimulatedRemoteServer> servers;
  std::optional<uint32_t> utc_ms_of_day;
  // Absent: the machine's host name, upper-cased.
  std::optional<std::string> computer_name;
  // Fully qualified; its first label is the DNS host name.
  std::string dns_name;
  // The server's clock as a FILETIME; absent: the real clock.
  std::optional<int64_t> current_time;
  bool shutdown_pending = false;
  bool shutdown_in_progress = false;
  uint32_t initiate_shutdown_error = 0;
  uint32_t abort_error = 0;
  bool virtual_sleep = false;
  SimulatedLogonMode logon_mode;
  uint32_t enumerate_processes_error = 0;
  // The code page of the A answers: 65001 (UTF-8) or 1252, where
  // characters that it lacks are lost as on a server with that legacy code
  // page.
  uint32_t ansi_code_page = 65001;
  // What WTSGetActiveConsoleSessionId answers; 0xFFFFFFFF: no session is
  // attached to the console.
  uint32_t console_session = 1;
};

// Whether two names are equal without regard to ASCII letter case.
bool SameServerName(std::string_view first, std::string_view second);

// Reads a description; on failure returns nullopt and says what is wrong.
// Unknown keys, values of the wrong type and unknown state names are
// failures, so that a typo does not pass silently.
std::optional<ServerDescription> ReadServerDescription(std::string_view json, std::string* error);

}  // namespace quillmarsh::simulated
