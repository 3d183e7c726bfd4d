// The cost per session of the session scan and of the listing, over 10 to
// 100,000 sessions, and over a farm of servers; it should stay flat.
#include <benchmark/benchmark.h>

#include <string>

#include "driver/program.h"
#include "sessions/session_info.h"
#include "sessions/session_listing.h"
#include "sessions/session_status.h"
#include "simulated/simulated_server.h"
#include "state/state.h"
#include "test_support.h"

namespace quillmarsh {
namespace {

// A list of sessions that cycle through the common states; with `details`,
// each carries times, a client name and an address.
std::string SessionList(int64_t sessions, bool details = false) {
  static const char* kStates[] = {"Active", "Disconnected", "Active", "Connected", "Listen"};
  std::string json = "[";
  for (int64_t i = 0; i < sessions; ++i) {
    if (i > 0) json += ',';
    json += R"({"id":)" + std::to_string(i) + R"(,"state":")" + kStates[i % 5] +
            R"(","user":"user)" + std::to_string(i) + R"(","domain":"CORP")";
    if (details) {
      json +=
          R"(,"logon_time":"2026-12-08T07:58:12Z","connect_time":"2026-12-08T07:58:10Z")"
          R"(,"disconnect_time":"2026-12-08T08:30:00Z","last_input_time":"2026-12-08T09:25:00Z")"
          R"(,"client_name":"WS-)" +
          std::to_string(i) + R"(","client_address":"10.1.2.3")";
    }
    json += '}';
  }
  return json + "]";
}

std::string ServerWith(int64_t sessions, bool details = false) {
  return R"({"own_session": 1, "current_time": "2026-12-08T09:30:00Z", "sessions": )" +
         SessionList(sessions, details) + "}";
}

void RunCommand(benchmark::State& bench, CommandHandler handler, std::vector<std::string> arguments,
                bool details = false, bool csv = false) {
  const int64_t sessions = bench.range(0);
  std::string error;
  std::shared_ptr<platform::TerminalServer> server = simulated::CreateSimulatedServer(
      ServerWith(sessions, details), nullptr, "bench", &error, {}, "bench");
  test::CapturingSystem system;
  for (auto _ : bench) {
    State state(arguments, server, system);
    state.CurrentCommand = arguments[1];
    state.CsvOutput = csv;
    handler(state);
    benchmark::DoNotOptimize(state.ErrorLevel);
    system.out.clear();
  }
  bench.SetItemsProcessed(bench.iterations() * sessions);
  bench.counters["per_session"] = benchmark::Counter(
      static_cast<double>(sessions),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_StatusScan(benchmark::State& bench) {
  RunCommand(bench, sessions::StatusCommand, {"quillmarsh", "/STATUS", "nobody"});
}

void BM_ListAllSessions(benchmark::State& bench) {
  RunCommand(bench, sessions::ListSessionsCommand, {"quillmarsh", "/LISTALLSESSIONS"});
}

// The details of every session, as a table or as CSV.
void BM_SessionInfoTable(benchmark::State& bench) {
  RunCommand(bench, sessions::SessionInfoCommand, {"quillmarsh", "/SESSIONINFO", "*ALL"}, true);
}

void BM_SessionInfoCsv(benchmark::State& bench) {
  RunCommand(bench, sessions::SessionInfoCommand, {"quillmarsh", "/SESSIONINFO", "*ALL"}, true,
             true);
}

// Whole runs over 10,000 sessions in all: on the local server alone, or
// spread over `servers` other servers reached with "/SERVER" (the argument).
// A farm should cost no more per session than one large server.
void RunFarm(benchmark::State& bench, const std::string& command) {
  constexpr int64_t kSessions = 10000;
  const int64_t servers = bench.range(0);
  std::vector<std::string> arguments = {"quillmarsh"};
  std::string json;
  if (servers == 0) {
    json = ServerWith(kSessions);
    arguments.push_back(command);
    if (command == "/STATUS") arguments.push_back("nobody");
  } else {
    json = R"({"own_session": 1, "servers": {)";
    for (int64_t i = 0; i < servers; ++i) {
      const std::string name = "TS" + std::to_string(i);
      if (i > 0) json += ',';
      json += '"' + name + R"(": {"sessions": )" + SessionList(kSessions / servers) + "}";
      arguments.insert(arguments.end(), {"/SERVER", name, command});
      if (command == "/STATUS") arguments.push_back("nobody");
    }
    json += "}}";
  }
  std::string error;
  auto server = simulated::CreateSimulatedServer(json, nullptr, "bench", &error);
  test::CapturingSystem system;
  for (auto _ : bench) {
    benchmark::DoNotOptimize(RunProgram(arguments, *server, system));
    system.out.clear();
  }
  bench.SetItemsProcessed(bench.iterations() * kSessions);
  bench.counters["per_session"] = benchmark::Counter(
      static_cast<double>(kSessions),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_FarmStatus(benchmark::State& bench) { RunFarm(bench, "/STATUS"); }
void BM_FarmListing(benchmark::State& bench) { RunFarm(bench, "/LISTALLSESSIONS"); }

BENCHMARK(BM_StatusScan)->Arg(10)->Arg(1000)->Arg(100000);
BENCHMARK(BM_ListAllSessions)->Arg(10)->Arg(1000)->Arg(100000);
BENCHMARK(BM_SessionInfoTable)->Arg(10)->Arg(1000)->Arg(100000);
BENCHMARK(BM_SessionInfoCsv)->Arg(10)->Arg(1000)->Arg(100000);
// 0: the local server of 10,000 sessions; 1 and 10: that many others.
BENCHMARK(BM_FarmStatus)->Arg(0)->Arg(1)->Arg(10);
BENCHMARK(BM_FarmListing)->Arg(0)->Arg(1)->Arg(10);

}  // namespace
}  // namespace quillmarsh
