// In-process runs of the program over a simulated server, with the console
// captured and the journal kept in memory.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/system.h"
#include "platform/terminal_server.h"

namespace quillmarsh::test {

// The host system with the console captured and the temporary directory
// chosen by the test. The default is a directory that nothing can be created
// in (not even by root), so a run with "/LOGFILE" leaves no file behind.
class CapturingSystem : public platform::System {
 public:
  explicit CapturingSystem(std::string temp_directory = "/dev/null/");

  std::string out;
  std::string err;
  std::string temp_directory;

  void WriteStdout(std::string_view bytes) override { out.append(bytes); }
  void FlushStdout() override { ++flushes; }
  void WriteStderr(std::string_view bytes) override { err.append(bytes); }
  uint32_t GetTempPathA(uint32_t size, char* buffer) override;
  platform::CalendarTime LocalTime() override { return host_->LocalTime(); }
  platform::CalendarTime UtcTime() override { return host_->UtcTime(); }
  uint32_t TickCount() override { return host_->TickCount(); }
  uint32_t CurrentProcessId() override { return host_->CurrentProcessId(); }
  std::string AccountName() override { return "tester"; }
  void SetCurrentThreadBelowNormalPriority() override {}
  std::unique_ptr<platform::File> OpenFile(const std::u16string& path, OpenMode mode) override {
    return host_->OpenFile(path, mode);
  }
  void CreateParentDirectories(const std::u16string& path) override {
    host_->CreateParentDirectories(path);
  }
  std::unique_ptr<platform::Event> CreateEvent(const std::string& name, uint32_t* error) override {
    return host_->CreateEvent(name, error);
  }
  std::unique_ptr<platform::Event> OpenEvent(const std::string& name, uint32_t* error) override {
    return host_->OpenEvent(name, error);
  }
  std::u16string AnsiToUtf16(std::string_view text) override { return host_->AnsiToUtf16(text); }
  std::string Utf16ToAnsi(std::u16string_view text) override { return host_->Utf16ToAnsi(text); }

  int flushes = 0;

 private:
  std::unique_ptr<platform::System> host_;
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
