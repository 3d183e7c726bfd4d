// A System that hands every call to another one, so that a test double
// overrides only what it changes.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "platform/system.h"

namespace quillmarsh::test {

class ForwardingSystem : public platform::System {
 public:
  explicit ForwardingSystem(std::unique_ptr<platform::System> host = platform::CreateSystem())
      : host_(std::move(host)) {}

  void WriteStdout(std::string_view bytes) override { host_->WriteStdout(bytes); }
  void FlushStdout() override { host_->FlushStdout(); }
  void WriteStderr(std::string_view bytes) override { host_->WriteStderr(bytes); }
  uint32_t GetTempPathA(uint32_t size, char* buffer) override {
    return host_->GetTempPathA(size, buffer);
  }
  platform::CalendarTime LocalTime() override { return host_->LocalTime(); }
  platform::CalendarTime UtcTime() override { return host_->UtcTime(); }
  bool LocalTimeOf(const platform::CalendarTime& utc, platform::CalendarTime* local) override {
    return host_->LocalTimeOf(utc, local);
  }
  uint32_t TickCount() override { return host_->TickCount(); }
  uint32_t CurrentProcessId() override { return host_->CurrentProcessId(); }
  std::string AccountName() override { return host_->AccountName(); }
  std::string HostName() override { return host_->HostName(); }
  void SetCurrentThreadBelowNormalPriority() override {
    host_->SetCurrentThreadBelowNormalPriority();
  }
  std::unique_ptr<platform::File> OpenFile(const std::u16string& path, OpenMode mode) override {
    return host_->OpenFile(path, mode);
  }
  std::string LastFileErrorText() override { return host_->LastFileErrorText(); }
  void CreateParentDirectories(const std::u16string& path) override {
    host_->CreateParentDirectories(path);
  }
  std::unique_ptr<platform::Event> CreateEvent(const std::string& name, uint32_t* error) override {
    return host_->CreateEvent(name, error);
  }
  std::unique_ptr<platform::Event> OpenEvent(const std::string& name, uint32_t* error) override {
    return host_->OpenEvent(name, error);
  }
  std::unique_ptr<platform::EndOfSessionHandler> InstallEndOfSessionHandler(
      std::function<void()> session_ended, std::function<void()> close_log) override {
    return host_->InstallEndOfSessionHandler(std::move(session_ended), std::move(close_log));
  }
  std::u16string AnsiToUtf16(std::string_view text) override { return host_->AnsiToUtf16(text); }
  std::string Utf16ToAnsi(std::u16string_view text) override { return host_->Utf16ToAnsi(text); }
  bool EqualIgnoringCase(std::u16string_view first, std::u16string_view second) override {
    return host_->EqualIgnoringCase(first, second);
  }

 private:
  std::unique_ptr<platform::System> host_;
};

}  // namespace quillmarsh::test
