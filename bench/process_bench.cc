// What "/ENDPROCESS" costs against one "/PROCESSES *ALL" on a server of
// 5,000 processes: each process it ends costs one more enumeration of the
// server (the re-check right before WTSTerminateProcess), so the cost grows
// with the processes ended and no faster.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "actions/end_process.h"
#include "sessions/processes.h"
#include "simulated/simulated_server.h"
#include "state/state.h"
#include "test_support.h"

namespace quillmarsh {
namespace {

constexpr int kSessions = 50;
constexpr int kProcessesPerSession = 100;

// 50 sessions of 100 processes each, every one owned by the session's user;
// `ended` of them, spread over the sessions, are "app.exe", the others
// "other.exe".
std::string ProcessServer(int64_t ended) {
  const int64_t total = int64_t{kSessions} * kProcessesPerSession;
  const int64_t stride = ended > 0 ? total / ended : total + 1;
  std::string json = R"({"own_session": 9999, "computer_name": "TS01", "sessions": [)";
  for (int session = 0; session < kSessions; ++session) {
    if (session > 0) json += ',';
    const std::string user = "user" + std::to_string(session);
    json += R"({"id":)" + std::to_string(session + 1) + R"(,"state":"Active","user":")" + user +
            R"(","domain":"CORP","processes":[)";
    for (int i = 0; i < kProcessesPerSession; ++i) {
      const int64_t n = int64_t{session} * kProcessesPerSession + i;
      if (i > 0) json += ',';
      json += R"({"pid":)" + std::to_string(1000 + n * 4) + R"(,"image":")" +
              (n % stride == 0 && n / stride < ended ? "app.exe" : "other.exe") +
              R"(","owner":"CORP\\)" + user + R"(","working_set":1048576})";
    }
    json += "]}";
  }
  return json + "]}";
}

void RunOnFreshServer(benchmark::State& bench, CommandHandler handler,
                      const std::vector<std::string>& arguments, int64_t ended) {
  const std::string json = ProcessServer(ended);
  test::CapturingSystem system;
  for (auto _ : bench) {
    // Every run starts from the same server: ended processes stay ended.
    bench.PauseTiming();
    std::string error;
    std::shared_ptr<platform::TerminalServer> server =
        simulated::CreateSimulatedServer(json, nullptr, "bench", &error, {}, "bench");
    State state(arguments, server, system);
    state.CurrentCommand = arguments[1];
    bench.ResumeTiming();
    handler(state);
    benchmark::DoNotOptimize(state.ErrorLevel);
    bench.PauseTiming();
    system.out.clear();
    system.err.clear();
    bench.ResumeTiming();
  }
}

// "/PROCESSES *ALL": one enumeration, 5,000 table rows.
void BM_ProcessesAll(benchmark::State& bench) {
  RunOnFreshServer(bench, sessions::ProcessesCommand, {"quillmarsh", "/PROCESSES", "*ALL"}, 0);
}

// "/ENDPROCESS app.exe *ALL" ending the argument's number of processes.
void BM_EndProcesses(benchmark::State& bench) {
  RunOnFreshServer(bench, actions::EndProcessCommand,
                   {"quillmarsh", "/ENDPROCESS", "app.exe", "*ALL"}, bench.range(0));
  bench.SetItemsProcessed(bench.iterations() * bench.range(0));
}

BENCHMARK(BM_ProcessesAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EndProcesses)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillmarsh
