// In-process runs of the program over a simulated server, with the console
// captured and the journal kept in memory.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "forwarding_system.h"
#include "platform/system.h"
#include "platform/terminal_server.h"

namespace quillmarsh::test {

// The host system with the console captured and the temporary directory
// chosen by the test. The default is a directory that nothing can be created
// in (not even by root), so a run with "/LOGFILE" leaves no file behind.
class CapturingSystem : public ForwardingSystem {
 public:
  explicit CapturingSystem(std::string temp_directory = "/dev/null/");

  std::string out;
  std::string err;
  std::string temp_directory;
  int flushes = 0;

  void WriteStdout(std::string_view bytes) override { out.append(bytes); }
  void FlushStdout() override { ++flushes; }
  void WriteStderr(std::string_view bytes) override { err.append(bytes); }
  uint32_t GetTempPathA(uint32_t size, char* buffer) override;
  std::string AccountName() override { return "tester"; }
  std::string HostName() override { return "testhost"; }
  void SetCurrentThreadBelowNormalPriority() override {}
  // Runs in the test process leave its signals alone.
  std::unique_ptr<platform::EndOfSessionHandler> InstallEndOfSessionHandler(
      std::function<void()>, std::function<void()>) override {
    return nullptr;
  }
};

struct RunResult {
  int exit_code = 0;
  std::string out;
  std::vector<std::string> journal;
  // The journal's "call" names in order.
  std::vector<std::string> calls;
};

// A simulated server from a JSON text; fails the test when it is invalid.
std::unique_ptr<platform::TerminalServer> MakeServer(const std::string& json,
                                                     std::vector<std::string>* journal);

// Runs the program with `arguments` (without the program name).
RunResult RunQuillmarsh(const std::string& server_json, std::vector<std::string> arguments,
                        const std::string& temp_directory = "/dev/null/");

// Lines joined with CR LF, each ending in one.
std::string Lines(const std::vector<std::string>& lines);

// The four lines of the banner block.
std::string BannerBlock();

}  // namespace quillmarsh::test
