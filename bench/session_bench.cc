// The cost per session of the session scan and of the listing, over 10 to
// 100,000 sessions; it should stay flat.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/simulated_server.h"
#include "sessions/session_listing.h"
#include "sessions/session_status.h"
#include "state/state.h"
#include "test_support.h"

namespace quillmarsh {
namespace {

// A server whose sessions cycle through the common states.
std::string ServerWith(int64_t sessions) {
  static const char* kStates[] = {"Active", "Disconnected", "Active", "Connected", "Listen"};
  std::string json = R"({"own_session": 1, "sessions": [)";
  for (int64_t i = 0; i < sessions; ++i) {
    if (i > 0) json += ',';
    json += R"({"id":)" + std::to_string(i) + R"(,"state":")" + kStates[i % 5] +
            R"(","user":"user)" + std::to_string(i) + R"(","domain":"CORP"})";
  }
  return json + "]}";
}

void RunCommand(benchmark::State& bench, CommandHandler handler,
                std::vector<std::string> arguments) {
  const int64_t sessions = bench.range(0);
  std::string error;
  auto server = platform::CreateSimulatedServer(ServerWith(sessions), nullptr, "bench", &error);
  test::CapturingSystem system;
  for (auto _ : bench) {
    State state(arguments, *server, system);
    state.CurrentCommand = arguments[1];
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

BENCHMARK(BM_StatusScan)->Arg(10)->Arg(1000)->Arg(100000);
BENCHMARK(BM_ListAllSessions)->Arg(10)->Arg(1000)->Arg(100000);

}  // namespace
}  // namespace quillmarsh
