// Arbitrary argument lists over an arbitrary simulated server: the program
// must never crash or hang, must exit with a value that some command can
// assign, and must free every Terminal Services buffer and server handle.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "driver/program.h"
#include "forwarding_system.h"
#include "platform/command_line.h"
#include "platform/system.h"
#include "simulated/simulated_server.h"

namespace {

using Json = nlohmann::json;

// Bytes as code points 0 to 255, so that names of any bytes survive JSON.
std::string AnyBytes(FuzzedDataProvider& data, size_t max_length) {
  std::string bytes = data.ConsumeRandomLengthString(max_length);
  std::string text;
  for (unsigned char byte : bytes) {
    if (byte < 0x80) {
      text += static_cast<char>(byte);
    } else {
      text += static_cast<char>(0xC0 | (byte >> 6));
      text += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return text;
}

uint32_t ErrorCode(FuzzedDataProvider& data) {
  return data.ConsumeBool() ? 0 : data.PickValueInArray({5u, 87u, 120u, 1722u, 7022u, 99999u});
}

Json Token(FuzzedDataProvider& data) {
  Json token = Json::object();
  Json groups = Json::array();
  if (data.ConsumeBool()) groups.push_back("S-1-5-32-544");
  if (data.ConsumeBool()) groups.push_back("S-1-5-21-1-2-3-1001");
  token["groups"] = groups;
  token["groups_error"] = ErrorCode(data);
  token["groups_bytes"] = data.PickValueInArray({0u, 5u, 10240000u, 10240001u, 4294967295u});
  token["elevation_type"] = data.ConsumeIntegralInRange<uint32_t>(0, 3);
  token["elevation_error"] = ErrorCode(data);
  return token;
}

// A session time: unknown, garbage before 1970, ordinary, or the last second.
Json Time(FuzzedDataProvider& data) {
  const char* times[] = {"1601-01-01T00:00:01Z", "1969-12-31T23:59:59Z", "2026-12-08T09:00:00Z",
                         "2026-12-08T09:30:00Z", "9999-12-31T23:59:59Z"};
  return data.ConsumeBool() ? Json(nullptr) : Json(data.PickValueInArray(times));
}

// What WTSQuerySessionInformationW answers for a session.
void AddDetails(FuzzedDataProvider& data, Json& session) {
  for (const char* key : {"logon_time", "connect_time", "disconnect_time", "last_input_time"}) {
    session[key] = Time(data);
  }
  session["client_name"] = AnyBytes(data, 40);
  const char* addresses[] = {"10.1.2.3", "::1", "2001:db8::1", "::ffff:192.0.2.1", "::"};
  if (data.ConsumeBool()) session["client_address"] = data.PickValueInArray(addresses);
  session["info_error"] = ErrorCode(data);
}

Json Server(FuzzedDataProvider& data) {
  Json server = Json::object();
  const uint32_t sessions = data.ConsumeIntegralInRange<uint32_t>(0, 12);
  Json list = Json::array();
  for (uint32_t i = 0; i < sessions; ++i) {
    Json session = {{"id", data.ConsumeIntegralInRange<uint32_t>(0, 8)},
                    {"state", data.ConsumeIntegralInRange<uint32_t>(0, 12)}};
    session["user"] = AnyBytes(data, 300);
    session["domain"] = AnyBytes(data, 300);
    for (const char* key : {"user_error", "domain_error", "send_error", "disconnect_error",
                            "logoff_error", "connect_error"}) {
      session[key] = ErrorCode(data);
    }
    AddDetails(data, session);
    Json processes = Json::array();
    const uint32_t process_count = data.ConsumeIntegralInRange<uint32_t>(0, 3);
    for (uint32_t p = 0; p < process_count; ++p) {
      processes.push_back({{"pid", data.PickValueInArray({4120u, 812u, 0u, 4294967295u})},
                           {"image", AnyBytes(data, 30)},
                           {"owner", data.ConsumeBool() ? Json(nullptr) : Json(AnyBytes(data, 30))},
                           {"working_set", data.ConsumeIntegral<uint32_t>()},
                           {"terminate_error", ErrorCode(data)}});
    }
    session["processes"] = processes;
    list.push_back(session);
  }
  server["sessions"] = list;
  server["own_session"] =
      data.ConsumeBool() ? Json(nullptr) : Json(data.ConsumeIntegralInRange<uint32_t>(0, 8));
  server["user_name"] = data.ConsumeBool() ? Json(nullptr) : Json(AnyBytes(data, 40));
  server["os_major"] = data.ConsumeIntegralInRange<uint32_t>(4, 11);
  server["token"] = {{"process", data.ConsumeBool() ? Json(nullptr) : Token(data)},
                     {"thread", data.ConsumeBool() ? Json(nullptr) : Token(data)},
                     {"shutdown_privilege", data.ConsumeBool()}};
  server["enumerate_error"] = data.ConsumeBool() ? 0u : ErrorCode(data);
  server["current_session"] = {{"disconnect_error", ErrorCode(data)},
                               {"logoff_error", ErrorCode(data)}};
  server["exit_windows_error"] = ErrorCode(data);
  server["utc_ms_of_day"] = data.ConsumeIntegral<uint32_t>();
  server["virtual_sleep"] = true;
  server["current_time"] = Time(data);
  // Another server that "/SERVER TS02" reaches; any other name never answers.
  Json remote = {{"enumerate_error", data.ConsumeBool() ? 0u : ErrorCode(data)},
                 {"shutdown_error", ErrorCode(data)}};
  Json remote_sessions = Json::array();
  const uint32_t remote_count = data.ConsumeIntegralInRange<uint32_t>(0, 4);
  for (uint32_t i = 0; i < remote_count; ++i) {
    remote_sessions.push_back({{"id", data.ConsumeIntegralInRange<uint32_t>(0, 8)},
                               {"state", data.ConsumeIntegralInRange<uint32_t>(0, 12)},
                               {"user", AnyBytes(data, 20)},
                               {"logoff_error", ErrorCode(data)}});
  }
  remote["sessions"] = remote_sessions;
  remote["abort_error"] = ErrorCode(data);
  remote["shutdown_pending"] = data.ConsumeBool();
  remote["current_time"] = Time(data);
  server["servers"] = {{"TS02", remote}};
  // This machine's names, its countdown, and a second look at the states.
  server["computer_name"] = "TS01";
  server["dns_name"] = "ts01.corp.example";
  server["shutdown_pending"] = data.ConsumeBool();
  server["initiate_shutdown_error"] = ErrorCode(data);
  server["abort_error"] = ErrorCode(data);
  server["shutdown_in_progress"] = data.ConsumeBool();
  server["logon_mode"] = {{"drain", data.ConsumeIntegralInRange<uint32_t>(0, 3)},
                          {"logons", data.ConsumeIntegralInRange<uint32_t>(0, 2)}};
  server["logon_mode_error"] = ErrorCode(data);
  server["enumerate_processes_error"] = ErrorCode(data);
  server["console_session"] = data.PickValueInArray({0u, 1u, 2u, 4294967295u});
  for (Json& session : server["sessions"]) {
    session["recheck_state"] = data.ConsumeIntegralInRange<uint32_t>(0, 12);
    session["recheck_error"] = ErrorCode(data);
    session["answer"] = data.ConsumeIntegralInRange<uint32_t>(5, 8);
  }
  return server;
}

std::vector<std::string> Arguments(FuzzedDataProvider& data) {
  static const char* kWords[] = {
      "/NOTME",
      "/MESSAGE",
      "/LISTALLSESSIONS",
      "/LISTACTIVESESSIONS",
      "/DISCONNECT",
      "/LOGOFF",
      "/MESSAGETIMEOUT",
      "/STATUS",
      "/REBOOT",
      "/REBOOTFORCE",
      "/SHUTDOWN",
      "/SHUTDOWNFORCE",
      "/LOGOFFME",
      "/SLEEP",
      "/SERVER",
      "/LOGOFFDISCONNECTED",
      "/SERVERTIMEOUT",
      "/REBOOTIN",
      "/SHUTDOWNIN",
      "/ABORTSHUTDOWN",
      "/SESSIONINFO",
      "/CSV",
      "/IDLEMINUTES",
      "/EXCEPT",
      "/WHATIF",
      "/LOGONS",
      "DRAIN",
      "QUERY",
      "/PROCESSES",
      "/ENDPROCESS",
      "/CONNECT",
      "/ASK",
      "/WAITEMPTY",
      "/REASON",
      "p:2:17",
      "P:U:255:65535",
      "WINWORD.EXE",
      "4120",
      "#0",
      "#3",
      "#4294967295",
      "#4294967296",
      "0",
      "5256000",
      "5256001",
      "TS02",
      "ts01.corp.example",
      "localhost",
      "30",
      "\\\\ts02",
      "nosuchhost",
      ".",
      "*ALL",
      "*me",
      "*ME",
      "-1",
      "$FFFFFFFF",
      "3",
  };
  // Half the time a raw command line, split as the Windows program splits
  // its own.
  if (data.ConsumeBool()) {
    return quillmarsh::platform::SplitCommandLine("quillmarsh " +
                                                  data.ConsumeRandomLengthString(2000));
  }
  std::vector<std::string> arguments = {"quillmarsh"};
  const size_t count = data.ConsumeIntegralInRange<size_t>(0, 120);
  for (size_t i = 0; i < count && data.remaining_bytes() > 0; ++i) {
    if (data.ConsumeBool()) {
      arguments.push_back(data.PickValueInArray(kWords));
    } else {
      arguments.push_back(data.ConsumeRandomLengthString(64));
    }
  }
  return arguments;
}

// Standard output is not what is checked here.
class QuietSystem : public quillmarsh::test::ForwardingSystem {
 public:
  void WriteStdout(std::string_view) override {}
  void FlushStdout() override {}
  void WriteStderr(std::string_view) override {}
};

// "/?" only prints the help screen, and the log is fuzzed on its own.
bool IsSwitchThatEndsFuzzing(const std::string& argument) {
  if (argument.empty() || argument[0] != '/') return false;
  std::string rest = argument.substr(1);
  for (char& c : rest) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return rest == "?" || rest == "logfile";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  const std::string description = Server(data).dump();
  std::vector<std::string> arguments = Arguments(data);
  for (std::string& argument : arguments) {
    if (IsSwitchThatEndsFuzzing(argument)) argument.clear();
  }

  bool leaked = false;
  int exit_code = 0;
  {
    std::string error;
    auto server = quillmarsh::simulated::CreateSimulatedServer(
        description,
        [&leaked](const std::string& line) {
          if (line.rfind(R"({"call":"leak")", 0) == 0) leaked = true;
        },
        "fuzzer", &error);
    if (!server) {
      std::fprintf(stderr, "invalid description: %s\n", error.c_str());
      std::abort();  // every generated description is valid
    }
    QuietSystem system;
    exit_code = quillmarsh::RunProgram(std::move(arguments), *server, system);
  }
  if (leaked || exit_code < 0 || exit_code > 5) {
    std::fprintf(stderr, "leaked %d, exit code %d\n", leaked ? 1 : 0, exit_code);
    std::abort();
  }
  return 0;
}
