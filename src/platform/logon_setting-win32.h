// The logon mode of a terminal server (drain mode, new logons) as WMI's
// Win32_TerminalServiceSetting holds it, through COM: ole32 and oleaut32
// are loaded from System32 on the first call, and COM is initialised and
// uninitialised on the calling thread around each call.
#pragma once

#include <cstdint>

#include "platform/late_binding-win32.h"

// These need <windows.h> first.
#include <objbase.h>
#include <oleauto.h>
#include <wbemcli.h>
#undef FormatMessage

namespace quillmarsh::platform {

using CoInitializeExFunction = decltype(&::CoInitializeEx);
using CoUninitializeFunction = decltype(&::CoUninitialize);
using CoCreateInstanceFunction = decltype(&::CoCreateInstance);
using CoSetProxyBlanketFunction = decltype(&::CoSetProxyBlanket);
using SysAllocStringFunction = decltype(&::SysAllocString);
using SysFreeStringFunction = decltype(&::SysFreeString);
using VariantClearFunction = decltype(&::VariantClear);

// The ole32 and oleaut32 functions that WMI through COM needs, all bound.
struct ComFunctions;

class WmiLogonSetting {
 public:
  // 0, or the HRESULT (or load error) of the step that failed.
  uint32_t Read(const char16_t* machine, LogonMode* mode);
  uint32_t Write(const char16_t* machine, const LogonMode& mode);

 private:
  // Runs `use` on the machine's single Win32_TerminalServiceSetting, in a
  // COM apartment of this thread: 0, or the HRESULT of the step that failed.
  template <typename Use>
  uint32_t WithLogonSetting(const char16_t* machine, Use use);
  // ole32 and oleaut32, loaded on the first logon-mode call: 0, or the
  // error of the library or function that is missing.
  uint32_t BindCom(ComFunctions* com);

  Library ole32_{L"ole32.dll"};
  Library oleaut32_{L"oleaut32.dll"};
  LateBound<CoInitializeExFunction> co_initialize_ex_{ole32_, "CoInitializeEx"};
  LateBound<CoUninitializeFunction> co_uninitialize_{ole32_, "CoUninitialize"};
  LateBound<CoCreateInstanceFunction> co_create_instance_{ole32_, "CoCreateInstance"};
  LateBound<CoSetProxyBlanketFunction> co_set_proxy_blanket_{ole32_, "CoSetProxyBlanket"};
  LateBound<SysAllocStringFunction> sys_alloc_string_{oleaut32_, "SysAllocString"};
  LateBound<SysFreeStringFunction> sys_free_string_{oleaut32_, "SysFreeString"};
  LateBound<VariantClearFunction> variant_clear_{oleaut32_, "VariantClear"};
};

}  // namespace quillmarsh::platform
