// Binding Windows functions at run time, for the Windows side of the
// platform boundary: each library is loaded from System32 on the first use
// of one of its functions, each function looked up then, safely from any
// thread.
#pragma once

#include <cstdint>
#include <mutex>

// Before <windows.h>: its FormatMessage macro would rename the member.
#include "platform/terminal_server.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#undef FormatMessage

#include "platform/system_library-win32.h"
#undef FormatMessage

namespace quillmarsh::platform {

template <typename Function>
Function FindFunction(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  FARPROC address = ::GetProcAddress(module, name);
  // Through void (*)(), which converts to every function pointer type.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

// A library loaded from the System32 folder only, on the first use of one of
// its functions, and kept until the process ends. A copy of the same name
// beside the program or in the current folder is never looked at: the
// program runs elevated from folders that others may be able to write to.
// Loading it late spares every run the set-up of libraries it does not use
// (user32 and the window system, for one).
class Library {
 public:
  explicit Library(const wchar_t* name) : name_(name) {}
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // Null when the library is missing; then error() says why.
  HMODULE get() const {
    std::call_once(loaded_, [this] {
      module_ = LoadSystemLibrary(name_, SystemKnowsSearchFlags());
      if (module_ == nullptr) error_ = ::GetLastError();
    });
    return module_;
  }
  DWORD error() const { return error_; }

 private:
  const wchar_t* name_;
  mutable std::once_flag loaded_;
  mutable HMODULE module_ = nullptr;
  mutable DWORD error_ = 0;
};

// A function of a Library, looked up by name on its first use; the address
// found (or its absence) is kept for later calls. Safe from any thread.
template <typename Function>
class LateBound {
 public:
  LateBound(const Library& library, const char* name) : library_(library), name_(name) {}

  Function get() {
    std::call_once(looked_up_, [this] {
      HMODULE module = library_.get();
      function_ = FindFunction<Function>(module, name_);
      if (function_ == nullptr) {
        error_ =
            module == nullptr && library_.error() != 0 ? library_.error() : ERROR_PROC_NOT_FOUND;
      }
    });
    return function_;
  }
  // Why get() gave null: the library's load error (126 when it is missing),
  // or 127 for a function the library lacks.
  DWORD error() const { return error_; }

 private:
  const Library& library_;
  const char* name_;
  std::once_flag looked_up_;
  Function function_ = nullptr;
  DWORD error_ = 0;
};

inline HANDLE ServerHandle(uintptr_t server) { return reinterpret_cast<HANDLE>(server); }

inline wchar_t* WideText(const char16_t* text) {
  return reinterpret_cast<wchar_t*>(const_cast<char16_t*>(text));
}

// Answers false with the error a missing function gives.
template <typename Function>
bool Missing(const LateBound<Function>& function) {
  ::SetLastError(function.error());
  return false;
}

}  // namespace quillmarsh::platform
