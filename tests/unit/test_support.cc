#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>

#include "driver/program.h"
#include "simulated/simulated_server.h"

namespace quillmarsh::test {

CapturingSystem::CapturingSystem(std::string temp) : temp_directory(std::move(temp)) {}

uint32_t CapturingSystem::GetTempPathA(uint32_t size, char* buffer) {
  if (temp_directory.size() + 1 > size) {
    return static_cast<uint32_t>(temp_directory.size() + 1);
  }
  std::memcpy(buffer, temp_directory.c_str(), temp_directory.size() + 1);
  return static_cast<uint32_t>(temp_directory.size());
}

std::unique_ptr<platform::TerminalServer> MakeServer(const std::string& json,
                                                     std::vector<std::string>* journal) {
  std::string error;
  auto server = simulated::CreateSimulatedServer(
      json, [journal](const std::string& line) { journal->push_back(line); }, "tester", &error);
  EXPECT_NE(server, nullptr) << error;
  return server;
}

RunResult RunQuillmarsh(const std::string& server_json, std::vector<std::string> arguments,
                        const std::string& temp_directory) {
  RunResult result;
  CapturingSystem system(temp_directory);
  {
    auto server = MakeServer(server_json, &result.journal);
    if (!server) return result;
    arguments.insert(arguments.begin(), "quillmarsh");
    result.exit_code = RunProgram(std::move(arguments), *server, system);
  }
  result.out = system.out;
  for (const std::string& line : result.journal) {
    const auto start = line.find("\"call\":\"") + 8;
    result.calls.push_back(line.substr(start, line.find('"', start) - start));
  }
  // Every buffer that Terminal Services handed out was freed.
  EXPECT_TRUE(result.calls.empty() || result.calls.back() != "leak");
  return result;
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::string BannerBlock() {
  const std::string dashes(54, '-');
  return Lines({dashes, "Terminal Server commandline tool :: version 2.2.174.19", dashes, ""});
}

}  // namespace quillmarsh::test
