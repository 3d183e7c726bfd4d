// The log writer against spdlog's asynchronous file logger, in the same run:
// what one Info costs the caller (median and 99th percentile of single
// calls), and how many lines per second the writer thread sustains.
#include <benchmark/benchmark.h>
#include <spdlog/async.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "log/log_writer.h"
#include "platform/system.h"

namespace quillmarsh {
namespace {

using Clock = std::chrono::steady_clock;

std::filesystem::path Folder() {
  static const std::filesystem::path folder = [] {
    auto path = std::filesystem::temp_directory_path() /
                ("quillmarsh-log-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(path);
    return path;
  }();
  return folder;
}

// Distinct lines, so that none collapses into a repeat summary.
std::vector<std::string> Lines(size_t count) {
  std::vector<std::string> lines;
  lines.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    lines.push_back("Domain\\User: CORP\\user" + std::to_string(i) + " Active");
  }
  return lines;
}

std::unique_ptr<log::LogWriter> OpenWriter(platform::System& system) {
  log::LogWriter::Options options;
  options.file_name = platform::Utf8ToUtf16((Folder() / "quillmarsh.log").string());
  auto writer = std::make_unique<log::LogWriter>(
      system, [](uint32_t) { return std::string(); }, options);
  if (!writer->Opened()) std::abort();
  return writer;
}

std::shared_ptr<spdlog::logger> OpenSpdlog() {
  spdlog::init_thread_pool(8192, 1);
  auto sink =
      std::make_shared<spdlog::sinks::basic_file_sink_mt>((Folder() / "spdlog.log").string(), true);
  return std::make_shared<spdlog::async_logger>("bench", sink, spdlog::thread_pool(),
                                                spdlog::async_overflow_policy::block);
}

// Times each call on its own and reports the median and 99th percentile.
template <typename Call>
void TimeSingleCalls(benchmark::State& bench, Call call) {
  const std::vector<std::string> lines = Lines(1000);
  std::vector<double> nanoseconds;
  size_t next = 0;
  for (auto _ : bench) {
    const auto start = Clock::now();
    call(lines[next]);
    nanoseconds.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count());
    next = (next + 1) % lines.size();
  }
  std::sort(nanoseconds.begin(), nanoseconds.end());
  bench.counters["median_ns"] = nanoseconds[nanoseconds.size() / 2];
  bench.counters["p99_ns"] = nanoseconds[nanoseconds.size() * 99 / 100];
}

void BM_InfoCallerCost(benchmark::State& bench) {
  auto system = platform::CreateSystem();
  auto writer = OpenWriter(*system);
  TimeSingleCalls(bench, [&](const std::string& line) { writer->Info(line); });
  writer->Close();
}

void BM_SpdlogAsyncCallerCost(benchmark::State& bench) {
  auto logger = OpenSpdlog();
  TimeSingleCalls(bench, [&](const std::string& line) { logger->info(line); });
  logger->flush();
  spdlog::shutdown();
}

// Lines per second from the first call until the file holds them all.
template <typename Open, typename Write, typename Finish>
void Sustained(benchmark::State& bench, Open open, Write write, Finish finish) {
  const std::vector<std::string> lines = Lines(static_cast<size_t>(bench.range(0)));
  for (auto _ : bench) {
    auto target = open();
    for (const std::string& line : lines) write(target, line);
    finish(target);
  }
  bench.counters["lines_per_second"] = benchmark::Counter(
      static_cast<double>(lines.size()), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_WriterThreadSustained(benchmark::State& bench) {
  auto system = platform::CreateSystem();
  Sustained(
      bench, [&] { return OpenWriter(*system); },
      [](auto& writer, const std::string& line) { writer->Info(line); },
      [](auto& writer) { writer->Close(); });
}

void BM_SpdlogAsyncSustained(benchmark::State& bench) {
  Sustained(
      bench, [] { return OpenSpdlog(); },
      [](auto& logger, const std::string& line) { logger->info(line); },
      [](auto& logger) {
        logger->flush();
        logger.reset();
        spdlog::shutdown();
      });
}

BENCHMARK(BM_InfoCallerCost)->Iterations(200000)->UseRealTime();
BENCHMARK(BM_SpdlogAsyncCallerCost)->Iterations(200000)->UseRealTime();
BENCHMARK(BM_WriterThreadSustained)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SpdlogAsyncSustained)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quillmarsh
