#include "platform/logon_setting-win32.h"

#include <cstring>
#include <string>

namespace quillmarsh::platform {

// The ole32 and oleaut32 functions that WMI through COM needs, all bound.
struct ComFunctions {
  CoInitializeExFunction initialize;
  CoUninitializeFunction uninitialize;
  CoCreateInstanceFunction create_instance;
  CoSetProxyBlanketFunction set_proxy_blanket;
  SysAllocStringFunction alloc_string;
  SysFreeStringFunction free_string;
  VariantClearFunction variant_clear;
};

namespace {

// COM for the calling thread, for as long as the owner lives. Declared
// before every COM pointer of a call, so that they are released first.
class ComApartment {
 public:
  explicit ComApartment(const ComFunctions& com)
      : com_(com), result_(com.initialize(nullptr, COINIT_MULTITHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) com_.uninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  HRESULT result() const { return result_; }

 private:
  const ComFunctions& com_;
  HRESULT result_;
};

template <typename Interface>
class ComPointer {
 public:
  ComPointer() = default;
  ~ComPointer() {
    if (pointer_ != nullptr) pointer_->Release();
  }
  ComPointer(const ComPointer&) = delete;
  ComPointer& operator=(const ComPointer&) = delete;
  Interface* get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  Interface** Receive() { return &pointer_; }

 private:
  Interface* pointer_ = nullptr;
};

class Bstr {
 public:
  Bstr(const ComFunctions& com, const wchar_t* text)
      : free_(com.free_string), text_(com.alloc_string(text)) {}
  ~Bstr() {
    if (text_ != nullptr) free_(text_);
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return text_; }

 private:
  SysFreeStringFunction free_;
  BSTR text_;
};

class Variant {
 public:
  explicit Variant(const ComFunctions& com) : clear_(com.variant_clear) {
    std::memset(&value_, 0, sizeof value_);
    value_.vt = VT_EMPTY;
  }
  ~Variant() { clear_(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* get() { return &value_; }
  const VARIANT& value() const { return value_; }

 private:
  VariantClearFunction clear_;
  VARIANT value_;
};

constexpr wchar_t kDrainModeProperty[] = L"SessionBrokerDrainMode";
// Documented as a string ("0" or "1"); an integer is taken as well.
constexpr wchar_t kLogonsProperty[] = L"Logons";

// WMI's codes are enumerators above LONG_MAX; as HRESULTs they are negative.
constexpr HRESULT kWbemNotFound = static_cast<HRESULT>(0x80041002u);
constexpr HRESULT kWbemTypeMismatch = static_cast<HRESULT>(0x80041005u);

uint32_t Failure(HRESULT result) { return FAILED(result) ? static_cast<uint32_t>(result) : 0; }

// Packet privacy (remote connections to this namespace require it) and
// impersonation, with the caller's own credentials.
HRESULT SetSecurity(const ComFunctions& com, IUnknown* proxy) {
  return com.set_proxy_blanket(proxy, RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_DEFAULT,
                               COLE_DEFAULT_PRINCIPAL, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
}

// Connects to the Terminal Services namespace of `machine` (null: this one)
// and finds its single Win32_TerminalServiceSetting instance.
HRESULT FindSetting(const ComFunctions& com, const char16_t* machine,
                    ComPointer<IWbemServices>* services, ComPointer<IWbemClassObject>* setting) {
  ComPointer<IWbemLocator> locator;
  HRESULT result =
      com.create_instance(__uuidof(WbemLocator), nullptr, CLSCTX_INPROC_SERVER,
                          __uuidof(IWbemLocator), reinterpret_cast<void**>(locator.Receive()));
  if (FAILED(result)) return result;
  std::wstring path = L"root\\CIMV2\\TerminalServices";
  if (machine != nullptr) {
    path = L"\\\\" + std::wstring(reinterpret_cast<const wchar_t*>(machine)) + L"\\" + path;
  }
  const Bstr name(com, path.c_str());
  const Bstr class_name(com, L"Win32_TerminalServiceSetting");
  if (name.get() == nullptr || class_name.get() == nullptr) return E_OUTOFMEMORY;
  // At most two minutes for a machine that does not answer; the caller
  // gives up sooner as a rule.
  result =
      locator->ConnectServer(name.get(), nullptr, nullptr, nullptr, WBEM_FLAG_CONNECT_USE_MAX_WAIT,
                             nullptr, nullptr, services->Receive());
  if (FAILED(result)) return result;
  result = SetSecurity(com, services->get());
  if (FAILED(result)) return result;
  ComPointer<IEnumWbemClassObject> instances;
  result = (*services)->CreateInstanceEnum(class_name.get(),
                                           WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                           nullptr, instances.Receive());
  if (FAILED(result)) return result;
  // The enumerator of a remote machine is a proxy of its own. One that is
  // not a proxy refuses a blanket, and needs none.
  SetSecurity(com, instances.get());
  ULONG returned = 0;
  result = instances->Next(static_cast<long>(WBEM_INFINITE), 1, setting->Receive(), &returned);
  if (FAILED(result)) return result;
  return returned == 1 && setting->get() != nullptr ? S_OK : kWbemNotFound;
}

// A uint32 as WMI hands it over (VT_I4 as a rule), or a decimal text.
HRESULT NumberOf(const VARIANT& value, uint32_t* number) {
  switch (value.vt) {
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
      *number = static_cast<uint32_t>(value.ulVal);
      return S_OK;
    case VT_I2:
    case VT_UI2:
      *number = value.uiVal;
      return S_OK;
    case VT_UI1:
      *number = value.bVal;
      return S_OK;
    case VT_BSTR: {
      const wchar_t* text = value.bstrVal;
      if (text == nullptr || *text == L'\0') return kWbemTypeMismatch;
      uint64_t parsed = 0;
      for (; *text != L'\0'; ++text) {
        if (*text < L'0' || *text > L'9') return kWbemTypeMismatch;
        parsed = parsed * 10 + static_cast<uint64_t>(*text - L'0');
        if (parsed > 0xFFFFFFFFu) return kWbemTypeMismatch;
      }
      *number = static_cast<uint32_t>(parsed);
      return S_OK;
    }
    default:
      // VT_NULL (no value) among others: nothing to go by.
      return kWbemTypeMismatch;
  }
}

// `number` in the type the property was read in: a text for a text.
HRESULT SetLike(const ComFunctions& com, const VARIANT& read, uint32_t number, Variant* written) {
  if (read.vt == VT_BSTR) {
    written->get()->bstrVal = com.alloc_string(std::to_wstring(number).c_str());
    if (written->get()->bstrVal == nullptr) return E_OUTOFMEMORY;
    written->get()->vt = VT_BSTR;
    return S_OK;
  }
  written->get()->vt = VT_I4;
  written->get()->lVal = static_cast<LONG>(number);
  return S_OK;
}

}  // namespace

template <typename Use>
uint32_t WmiLogonSetting::WithLogonSetting(const char16_t* machine, Use use) {
  ComFunctions com{};
  if (const uint32_t error = BindCom(&com); error != 0) return error;
  const ComApartment apartment(com);
  if (FAILED(apartment.result())) return Failure(apartment.result());
  ComPointer<IWbemServices> services;
  ComPointer<IWbemClassObject> setting;
  const HRESULT result = FindSetting(com, machine, &services, &setting);
  if (FAILED(result)) return Failure(result);
  return Failure(use(com, services.get(), setting.get()));
}

uint32_t WmiLogonSetting::BindCom(ComFunctions* com) {
  com->initialize = co_initialize_ex_.get();
  com->uninitialize = co_uninitialize_.get();
  com->create_instance = co_create_instance_.get();
  com->set_proxy_blanket = co_set_proxy_blanket_.get();
  com->alloc_string = sys_alloc_string_.get();
  com->free_string = sys_free_string_.get();
  com->variant_clear = variant_clear_.get();
  if (com->initialize == nullptr) return co_initialize_ex_.error();
  if (com->uninitialize == nullptr) return co_uninitialize_.error();
  if (com->create_instance == nullptr) return co_create_instance_.error();
  if (com->set_proxy_blanket == nullptr) return co_set_proxy_blanket_.error();
  if (com->alloc_string == nullptr) return sys_alloc_string_.error();
  if (com->free_string == nullptr) return sys_free_string_.error();
  if (com->variant_clear == nullptr) return variant_clear_.error();
  return 0;
}

uint32_t WmiLogonSetting::Read(const char16_t* machine, LogonMode* mode) {
  return WithLogonSetting(
      machine, [mode](ComFunctions& com, IWbemServices*, IWbemClassObject* setting) {
        Variant drain(com);
        Variant logons(com);
        LogonMode read;
        HRESULT result = setting->Get(kDrainModeProperty, 0, drain.get(), nullptr, nullptr);
        if (SUCCEEDED(result)) result = NumberOf(drain.value(), &read.SessionBrokerDrainMode);
        if (SUCCEEDED(result))
          result = setting->Get(kLogonsProperty, 0, logons.get(), nullptr, nullptr);
        if (SUCCEEDED(result)) result = NumberOf(logons.value(), &read.Logons);
        if (SUCCEEDED(result)) *mode = read;
        return result;
      });
}

uint32_t WmiLogonSetting::Write(const char16_t* machine, const LogonMode& mode) {
  return WithLogonSetting(
      machine, [&mode](ComFunctions& com, IWbemServices* services, IWbemClassObject* setting) {
        // Read first for the types the properties have on that machine.
        Variant drain(com);
        Variant logons(com);
        Variant new_drain(com);
        Variant new_logons(com);
        HRESULT result = setting->Get(kDrainModeProperty, 0, drain.get(), nullptr, nullptr);
        if (SUCCEEDED(result))
          result = setting->Get(kLogonsProperty, 0, logons.get(), nullptr, nullptr);
        if (SUCCEEDED(result)) {
          result = SetLike(com, drain.value(), mode.SessionBrokerDrainMode, &new_drain);
        }
        if (SUCCEEDED(result)) result = SetLike(com, logons.value(), mode.Logons, &new_logons);
        if (SUCCEEDED(result)) result = setting->Put(kDrainModeProperty, 0, new_drain.get(), 0);
        if (SUCCEEDED(result)) result = setting->Put(kLogonsProperty, 0, new_logons.get(), 0);
        if (SUCCEEDED(result)) {
          result = services->PutInstance(setting, WBEM_FLAG_UPDATE_ONLY, nullptr, nullptr);
        }
        return result;
      });
}

}  // namespace quillmarsh::platform
