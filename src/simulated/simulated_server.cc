#include "simulated/simulated_server.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/file_time.h"
#include "platform/session_states.h"
#include "platform/system.h"
#include "simulated/code_page_1252.h"
#include "simulated/message_texts.h"
#include "simulated/server_description.h"

namespace quillmarsh::simulated {

using namespace platform;

namespace {

using OrderedJson = nlohmann::ordered_json;

constexpr uint32_t kNoSuchPrivilege = 1313;
constexpr uint32_t kNoToken = 1008;
constexpr uint32_t kShutdownPrivilegeLuid = 19;
constexpr uint32_t kNoneMapped = 1332;
constexpr uint32_t kShutdownGraceOverride = 0x20;
constexpr uint32_t kErrorBadArguments = 160;
// NetWkstaGetInfo: a level it does not know.
constexpr uint32_t kErrorInvalidLevel = 124;
// The pResponse of a message box that does not wait.
constexpr uint32_t kIdAsync = 32001;

// What InitiateShutdown refuses before it looks at the machine: another
// machine, or a grace period, only with SHUTDOWN_FORCE_SELF, and a grace
// period never with SHUTDOWN_GRACE_OVERRIDE.
uint32_t ShutdownParameterError(bool remote, uint32_t grace_period, uint32_t flags) {
  const bool force_self = (flags & platform::kShutdownForceSelf) != 0;
  if ((remote || grace_period > 0) && !force_self) return kErrorInvalidParameter;
  if (grace_period > 0 && (flags & kShutdownGraceOverride) != 0) return kErrorBadArguments;
  return 0;
}

// ---- The simulated calls -------------------------------------------------

// One call under way and its journal line under construction. It holds the
// server's lock, since a server check may call from a thread of its own.
// Without a journal it records nothing, so that a run without one pays
// nothing for it.
class JournalEntry {
 public:
  class Field {
   public:
    Field(OrderedJson* json, const char* key) : json_(json), key_(key) {}
    template <typename T>
    Field& operator=(T&& value) {
      if (json_ != nullptr) (*json_)[key_] = std::forward<T>(value);
      return *this;
    }

   private:
    OrderedJson* json_;
    const char* key_;
  };

  JournalEntry(bool active, std::mutex& mutex) : lock_(mutex), active_(active) {}
  explicit JournalEntry(bool active) : active_(active) {}
  Field operator[](const char* key) { return Field(active_ ? &json_ : nullptr, key); }
  bool active() const { return active_; }
  const OrderedJson& json() const { return json_; }

  // The line is complete: the lock is no longer needed.
  void Release() {
    if (lock_.owns_lock()) lock_.unlock();
  }

 private:
  std::unique_lock<std::mutex> lock_;
  bool active_;
  OrderedJson json_;
};

std::string Utf16Text(const char16_t* text, uint32_t bytes) {
  if (text == nullptr) return {};
  return Utf16ToUtf8(std::u16string_view(text, bytes / 2));
}

// The sessions of one server, found by id.
class SessionSet {
 public:
  explicit SessionSet(const std::vector<SimulatedSession>& sessions) : sessions_(&sessions) {}

  const std::vector<SimulatedSession>& sessions() const { return *sessions_; }

  // The processes WTSTerminateProcess has ended in this run.
  std::set<uint32_t>& ended_processes() { return ended_processes_; }
  // The processes with `exits_after_listing` or `replaced_by` that an
  // enumeration has listed: gone since.
  std::set<uint32_t>& gone_processes() { return gone_processes_; }

  const SimulatedSession* Find(uint32_t session_id) {
    const std::vector<SimulatedSession>& sessions = *sessions_;
    if (index_.empty() && !sessions.empty()) {
      // Ids with their places, sorted: the first session with an id
      // answers for it.
      index_.reserve(sessions.size());
      for (uint32_t i = 0; i < sessions.size(); ++i) index_.emplace_back(sessions[i].id, i);
      std::sort(index_.begin(), index_.end());
      unique_ids_ = std::adjacent_find(index_.begin(), index_.end(), [](auto a, auto b) {
                      return a.first == b.first;
                    }) == index_.end();
    }
    // Calls come in enumeration order: the session after the last one found
    // is tried first.
    const size_t next = last_found_ + 1;
    if (unique_ids_ && next < sessions.size() && sessions[next].id == session_id) {
      last_found_ = next;
      return &sessions[next];
    }
    auto found = std::lower_bound(index_.begin(), index_.end(), std::make_pair(session_id, 0u));
    if (found == index_.end() || found->first != session_id) return nullptr;
    last_found_ = found->second;
    return &sessions[found->second];
  }

 private:
  const std::vector<SimulatedSession>* sessions_;
  std::vector<std::pair<uint32_t, uint32_t>> index_;
  bool unique_ids_ = false;
  size_t last_found_ = static_cast<size_t>(-1);
  std::set<uint32_t> ended_processes_;
  std::set<uint32_t> gone_processes_;
};

// What a Terminal Services call reaches through its server handle: a
// server's sessions and its enumeration failure, or the error that every
// call fails with.
struct Addressed {
  SessionSet* sessions = nullptr;
  uint32_t enumerate_error = 0;
  uint32_t error = 0;
  // The server's clock as a FILETIME; absent: the real clock.
  std::optional<int64_t> current_time;
  uint32_t enumerate_processes_error = 0;
};

// Copies a text into a fixed WTSINFOW field, cut to leave room for the NUL.
template <size_t kSize>
void CopyField(const std::u16string& text, char16_t (&field)[kSize]) {
  const size_t length = std::min(text.size(), kSize - 1);
  std::copy_n(text.begin(), length, field);
  field[length] = u'\0';
}

void HoldWideNames(SimulatedSession& session);

class SimulatedServer : public TerminalServer {
 public:
  SimulatedServer(ServerDescription description, JournalSink journal, std::string real_user_name,
                  const std::string& real_host_name)
      : server_(std::move(description)),
        journal_(std::move(journal)),
        real_user_name_(std::move(real_user_name)),
        local_(server_.sessions) {
    if (!server_.computer_name) {
      std::string upper = real_host_name;
      for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      }
      server_.computer_name = std::move(upper);
    }
    remote_.reserve(server_.servers.size());
    for (const SimulatedRemoteServer& remote : server_.servers) {
      remote_.emplace_back(remote.sessions);
      remote_countdowns_.push_back(Countdown{remote.shutdown_pending});
    }
    local_countdown_ = server_.shutdown_pending;
    AssignOwnerSids(server_.sessions);
    for (const SimulatedRemoteServer& remote : server_.servers) AssignOwnerSids(remote.sessions);
  }

  ~SimulatedServer() override {
    const auto handles = std::count_if(handles_.begin(), handles_.end(),
                                       [](const OpenedHandle& handle) { return handle.open; });
    if (!buffers_.empty() || handles != 0) {
      JournalEntry entry(true);
      entry["call"] = "leak";
      entry["ok"] = false;
      entry["buffers"] = buffers_.size();
      if (handles != 0) entry["handles"] = handles;
      Write(entry);
    }
  }

  // Per thread, as on Windows: a server check reads its own.
  uint32_t GetLastError() override { return last_error_; }

  std::string FormatMessage(uint32_t code) override { return MessageText(code); }

  bool WTSEnumerateSessionsA(uintptr_t server, uint32_t reserved, uint32_t version,
                             WtsSessionInfo** sessions, uint32_t* count) override {
    Delay(server);
    JournalEntry entry = Call("WTSEnumerateSessionsA");
    entry["server"] = server;
    entry["reserved"] = reserved;
    entry["version"] = version;
    const Addressed target = Address(server);
    const uint32_t error = target.error != 0 ? target.error : target.enumerate_error;
    if (error == 0) {
      const std::vector<SimulatedSession>& list = target.sessions->sessions();
      auto buffer = std::make_unique<Buffer>();
      // Never an empty array: the caller frees whatever non-null pointer
      // it was handed, also for no sessions.
      buffer->records.resize(std::max<size_t>(1, list.size()));
      size_t listed = 0;
      for (const SimulatedSession& session : list) {
        if (Gone(session)) continue;
        buffer->records[listed].SessionId = session.id;
        buffer->records[listed].pWinStationName = const_cast<char*>(session.station.c_str());
        buffer->records[listed].State = StateNow(session, session.state);
        ++listed;
      }
      *sessions = buffer->records.data();
      *count = static_cast<uint32_t>(listed);
      entry["count"] = *count;
      Hand(std::move(buffer), *sessions);
    }
    return Finish(entry, error);
  }

  bool WTSQuerySessionInformationA(uintptr_t server, uint32_t session_id, uint32_t info_class,
                                   char** buffer, uint32_t* bytes) override {
    Delay(server);
    JournalEntry entry = Call("WTSQuerySessionInformationA");
    uint32_t error = 0;
    const SimulatedSession* session = QueriedSession(entry, server, session_id, info_class, &error);
    if (error == 0) {
      error = info_class == kWtsUserName       ? session->user_error
              : info_class == kWtsDomainName   ? session->domain_error
              : info_class == kWtsConnectState ? session->recheck_error
                                               : kErrorInvalidParameter;
    }
    if (error == 0) {
      auto owned = std::make_unique<Buffer>();
      if (info_class == kWtsConnectState) {
        const uint32_t state = StateNow(*session, session->recheck_state.value_or(session->state));
        owned->text.resize(sizeof state);
        std::memcpy(owned->text.data(), &state, sizeof state);
      } else {
        const std::string& text = info_class == kWtsUserName ? session->user : session->domain;
        owned->text.assign(text.begin(), text.end());
        owned->text.push_back('\0');
      }
      *buffer = owned->text.data();
      *bytes = static_cast<uint32_t>(owned->text.size());
      Hand(std::move(owned), *buffer);
    }
    return Finish(entry, error);
  }

  bool WTSQuerySessionInformationW(uintptr_t server, uint32_t session_id, uint32_t info_class,
                                   char16_t** buffer, uint32_t* bytes) override {
    Delay(server);
    JournalEntry entry = Call("WTSQuerySessionInformationW");
    uint32_t error = 0;
    const SimulatedSession* session = QueriedSession(entry, server, session_id, info_class, &error);
    const bool name = info_class == kWtsUserName || info_class == kWtsDomainName;
    if (error == 0 && !name && info_class != kWtsClientName && info_class != kWtsClientAddress &&
        info_class != kWtsSessionInfo) {
      error = kErrorInvalidParameter;
    }
    if (error == 0) {
      error = info_class == kWtsUserName     ? session->user_error
              : info_class == kWtsDomainName ? session->domain_error
                                             : session->info_error;
    }
    if (error != 0) return Finish(entry, error);
    auto owned = std::make_unique<Buffer>();
    void* answer = nullptr;
    if (name) {
      owned->wide = info_class == kWtsUserName ? session->wide_user : session->wide_domain;
      answer = owned->wide.data();
      *bytes = static_cast<uint32_t>((owned->wide.size() + 1) * 2);
    } else if (info_class == kWtsClientName) {
      owned->wide = Utf8ToUtf16(session->client_name);
      answer = owned->wide.data();
      *bytes = static_cast<uint32_t>((owned->wide.size() + 1) * 2);
    } else if (info_class == kWtsClientAddress) {
      WtsClientAddress& address = owned->address;
      address.AddressFamily = session->client_family;
      const size_t length = session->client_family == kAfInet ? 4 : 16;
      if (session->client_family != 0) {
        std::copy_n(session->client_address.begin(), length, address.Address + 2);
      }
      answer = &address;
      *bytes = sizeof address;
    } else {
      WtsInfo& info = owned->info;
      info.State = StateNow(*session, session->recheck_state.value_or(session->state));
      info.SessionId = session->id;
      CopyField(Utf8ToUtf16(session->station), info.WinStationName);
      CopyField(session->wide_domain, info.Domain);
      CopyField(session->wide_user, info.UserName);
      info.ConnectTime = session->connect_time;
      info.DisconnectTime = session->disconnect_time;
      info.LastInputTime = session->last_input_time;
      info.LogonTime = session->logon_time;
      const std::optional<int64_t> clock = Address(server).current_time;
      info.CurrentTime = clock ? *clock : RealClock();
      answer = &info;
      *bytes = sizeof info;
    }
    *buffer = static_cast<char16_t*>(answer);
    Hand(std::move(owned), answer);
    return Finish(entry, 0);
  }

  void WTSFreeMemory(void* memory) override {
    JournalEntry entry = Call("WTSFreeMemory");
    auto found = buffers_.find(memory);
    // Process records are freed with WTSFreeMemoryExW only.
    const bool freed = found != buffers_.end() && found->second->processes.empty();
    if (freed) buffers_.erase(found);
    Finish(entry, freed ? 0 : kErrorInvalidParameter);
  }

  bool WTSSendMessageW(uintptr_t server, uint32_t session_id, const char16_t* title,
                       uint32_t title_bytes, const char16_t* message, uint32_t message_bytes,
                       uint32_t style, uint32_t timeout, uint32_t* response, bool wait) override {
    Delay(server);
    // A box that waits answers after the user's time, without the lock, so
    // that the calls on other sessions run meanwhile.
    if (wait) AwaitAnswer(server, session_id);
    JournalEntry entry = Call("WTSSendMessageW");
    entry["server"] = server;
    entry["session"] = session_id;
    if (entry.active()) entry["title"] = Utf16Text(title, title_bytes);
    entry["title_bytes"] = title_bytes;
    if (entry.active()) entry["message"] = Utf16Text(message, message_bytes);
    entry["message_bytes"] = message_bytes;
    entry["style"] = style;
    entry["timeout"] = timeout;
    entry["wait"] = wait;
    const Addressed target = Address(server);
    const SimulatedSession* session = target.error == 0 ? Present(target, session_id) : nullptr;
    const uint32_t error = target.error != 0    ? target.error
                           : session == nullptr ? kErrorNoSuchSession
                                                : session->send_error;
    if (error == 0) {
      const uint32_t answer = wait ? session->answer : kIdAsync;
      if (response != nullptr) *response = answer;
      entry["response"] = answer;
    }
    return Finish(entry, error);
  }

  bool WTSDisconnectSession(uintptr_t server, uint32_t session_id, bool wait) override {
    return SessionCall("WTSDisconnectSession", server, session_id, wait,
                       server_.current_disconnect_error, &SimulatedSession::disconnect_error);
  }

  bool WTSLogoffSession(uintptr_t server, uint32_t session_id, bool wait) override {
    return SessionCall("WTSLogoffSession", server, session_id, wait, server_.current_logoff_error,
                       &SimulatedSession::logoff_error);
  }

  uintptr_t WTSOpenServerA(const char* server_name) override {
    JournalEntry entry = Call("WTSOpenServerA");
    const std::string name = server_name != nullptr ? server_name : "";
    entry["name"] = name;
    handles_.push_back(OpenedHandle{RemoteNamed(name)});
    const uintptr_t handle = handles_.size();
    entry["handle"] = handle;
    Finish(entry, 0);
    return handle;
  }

  void WTSCloseServer(uintptr_t server) override {
    JournalEntry entry = Call("WTSCloseServer");
    entry["handle"] = server;
    OpenedHandle* opened = Opened(server);
    if (opened != nullptr) opened->open = false;
    Finish(entry, opened != nullptr ? 0 : kErrorInvalidHandle);
  }

  uint32_t WTSGetActiveConsoleSessionId() override {
    std::lock_guard lock(mutex_);
    return server_.console_session;
  }

  // On this server only. After a success the session is Active at the
  // target's terminal, the target is Disconnected, and a session connected
  // to the console's terminal is the console session from then on.
  bool WTSConnectSessionW(uint32_t logon_id, uint32_t target_logon_id, const char16_t* password,
                          bool wait) override {
    JournalEntry entry = Call("WTSConnectSessionW");
    entry["session"] = logon_id;
    entry["target"] = target_logon_id;
    if (entry.active()) entry["password"] = Utf16ToUtf8(password != nullptr ? password : u"");
    entry["wait"] = wait;
    if (!server_.terminal_services) return Finish(entry, kErrorCallNotImplemented);
    const auto with_id = [this](uint32_t id) {
      auto found = std::find_if(server_.sessions.begin(), server_.sessions.end(),
                                [id](const SimulatedSession& session) { return session.id == id; });
      return found == server_.sessions.end() ? nullptr : &*found;
    };
    SimulatedSession* session = with_id(logon_id);
    if (session == nullptr) return Finish(entry, kErrorNoSuchSession);
    if (session->connect_error != 0) return Finish(entry, session->connect_error);
    if (SimulatedSession* target = with_id(target_logon_id);
        target != nullptr && target != session) {
      target->state = kStateDisconnected;
      target->recheck_state.reset();
    }
    session->state = kStateActive;
    session->recheck_state.reset();
    if (target_logon_id == server_.console_session) server_.console_session = logon_id;
    return Finish(entry, 0);
  }

  bool ProcessIdToSessionId(uint32_t, uint32_t* session_id) override {
    if (!server_.own_session) return false;
    *session_id = *server_.own_session;
    return true;
  }

  bool GetComputerNameExW(uint32_t name_type, char16_t* buffer, uint32_t* size) override {
    std::string name;
    if (name_type == kComputerNameNetBios) {
      name = *server_.computer_name;
    } else if (name_type == kComputerNameDnsHostname) {
      name = server_.dns_name.substr(0, server_.dns_name.find('.'));
    } else if (name_type == kComputerNameDnsFullyQualified) {
      name = server_.dns_name;
    } else {
      return Fail(kErrorInvalidParameter);
    }
    const std::u16string text = Utf8ToUtf16(name);
    if (text.size() + 1 > *size) {
      *size = static_cast<uint32_t>(text.size() + 1);
      return Fail(kErrorMoreData);
    }
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = u'\0';
    *size = static_cast<uint32_t>(text.size());
    return true;
  }

  bool GetUserNameA(char* buffer, uint32_t* size) override {
    if (server_.user_name_fails) {
      last_error_ = kErrorAccessDenied;
      return false;
    }
    const std::string name = server_.user_name.value_or(real_user_name_);
    if (name.size() + 1 > *size) {
      *size = static_cast<uint32_t>(name.size() + 1);
      last_error_ = kErrorInsufficientBuffer;
      return false;
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    *size = static_cast<uint32_t>(name.size() + 1);
    return true;
  }

  bool GetVersionExA(uint32_t* major_version) override {
    if (!server_.os_major) return false;
    *major_version = *server_.os_major;
    return true;
  }

  uint32_t NetWkstaGetInfo(const char16_t* server, uint32_t level, WkstaInfo100** buffer) override {
    auto info = std::make_unique<WkstaBuffer>();
    info->info.wki100_platform_id = 500;
    if (server == nullptr) {
      if (!server_.netwksta_major || level != 100) return kErrorCallNotImplemented;
      info->info.wki100_ver_major = *server_.netwksta_major;
      info->name = Utf8ToUtf16(*server_.computer_name);
    } else {
      const std::optional<size_t> remote = RemoteNamed(Utf16ToUtf8(server));
      if (!remote) return kErrorBadNetPath;
      DelayFor(remote);
      if (level != 100) return kErrorInvalidLevel;
      info->info.wki100_ver_major = 10;
      info->name = Utf8ToUtf16(ComputerNameOf(server_.servers[*remote]));
    }
    info->info.wki100_computername = info->name.data();
    *buffer = &info.release()->info;
    return 0;
  }

  uint32_t NetApiBufferFree(void* buffer) override {
    // The answer is the first member of its buffer.
    delete reinterpret_cast<WkstaBuffer*>(buffer);
    return 0;
  }

  bool OpenThreadToken(uint32_t, bool, Handle* token) override {
    return OpenToken(server_.thread_token, kNoToken, token);
  }

  bool OpenProcessToken(uint32_t, Handle* token) override {
    return OpenToken(server_.process_token, kErrorAccessDenied, token);
  }

  bool GetTokenInformation(Handle handle, uint32_t information_class, void* information,
                           uint32_t length, uint32_t* return_length) override {
    auto* token = static_cast<SimulatedToken*>(handle);
    if (token == nullptr) return Fail(kErrorInvalidHandle);
    if (information_class == kTokenElevationTypeClass) {
      if (token->elevation_error != 0) return Fail(token->elevation_error);
      *return_length = 4;
      if (length < 4) return Fail(kErrorInsufficientBuffer);
      std::memcpy(information, &token->elevation_type, 4);
      return true;
    }
    if (information_class != kTokenGroupsClass) return Fail(kErrorInvalidParameter);
    if (token->groups_error != 0) return Fail(token->groups_error);
    // GroupCount, the entries, then the SIDs they point to.
    const size_t entries =
        offsetof(TokenGroups, Groups) + token->groups.size() * sizeof(SidAndAttributes);
    size_t needed = entries;
    for (const auto& sid : token->groups) needed += sid.size();
    const uint32_t reported =
        token->groups_bytes != 0 ? token->groups_bytes : static_cast<uint32_t>(needed);
    *return_length = reported;
    if (length < reported || length < needed) return Fail(kErrorInsufficientBuffer);
    auto* groups = static_cast<TokenGroups*>(information);
    groups->GroupCount = static_cast<uint32_t>(token->groups.size());
    auto* entry = groups->Groups;
    auto* sid_bytes = static_cast<uint8_t*>(information) + entries;
    for (const auto& sid : token->groups) {
      std::memcpy(sid_bytes, sid.data(), sid.size());
      entry->Sid = sid_bytes;
      entry->Attributes = 7;  // mandatory, enabled by default, enabled
      ++entry;
      sid_bytes += sid.size();
    }
    return true;
  }

  bool AllocateAndInitializeSid(const SidIdentifierAuthority& authority,
                                uint8_t sub_authority_count, const uint32_t (&sub_authorities)[8],
                                void** sid) override {
    if (sub_authority_count > 8) return Fail(kErrorInvalidParameter);
    auto* bytes = new uint8_t[8 + 4 * sub_authority_count];
    bytes[0] = 1;
    bytes[1] = sub_authority_count;
    std::memcpy(bytes + 2, authority.Value, 6);
    for (uint8_t i = 0; i < sub_authority_count; ++i) {
      std::memcpy(bytes + 8 + 4 * i, &sub_authorities[i], 4);
    }
    *sid = bytes;
    return true;
  }

  bool EqualSid(void* first, void* second) override {
    const auto* a = static_cast<const uint8_t*>(first);
    const auto* b = static_cast<const uint8_t*>(second);
    return a[1] == b[1] && std::memcmp(a, b, 8 + 4 * static_cast<size_t>(a[1])) == 0;
  }

  void FreeSid(void* sid) override { delete[] static_cast<uint8_t*>(sid); }

  bool CloseHandle(Handle handle) override { return handle != nullptr; }

  bool LookupPrivilegeValueA(const char*, const char* name, Luid* luid) override {
    if (!server_.shutdown_privilege || std::strcmp(name, "SeShutdownPrivilege") != 0) {
      return Fail(kNoSuchPrivilege);
    }
    luid->LowPart = kShutdownPrivilegeLuid;
    luid->HighPart = 0;
    return true;
  }

  bool AdjustTokenPrivileges(Handle, bool, const TokenPrivileges* new_state, uint32_t,
                             TokenPrivileges* previous_state, uint32_t* return_length) override {
    JournalEntry entry = Call("AdjustTokenPrivileges");
    entry["privilege"] = new_state->PrivilegeLuid.LowPart == kShutdownPrivilegeLuid
                             ? "SeShutdownPrivilege"
                             : std::to_string(new_state->PrivilegeLuid.LowPart);
    entry["attributes"] = new_state->Attributes;
    if (previous_state != nullptr)
      *previous_state = TokenPrivileges{1, new_state->PrivilegeLuid, 0};
    if (return_length != nullptr) *return_length = sizeof(TokenPrivileges);
    return Finish(entry, 0);
  }

  bool ExitWindowsEx(uint32_t flags, uint32_t reason) override {
    JournalEntry entry = Call("ExitWindowsEx");
    entry["flags"] = flags;
    entry["reason"] = reason;
    return Finish(
        entry, server_.terminal_services ? server_.exit_windows_error : kErrorCallNotImplemented);
  }

  uint32_t InitiateShutdownA(const char* machine, const char*, uint32_t grace_period,
                             uint32_t flags, uint32_t reason) override {
    const uint32_t parameter_error =
        ShutdownParameterError(machine != nullptr, grace_period, flags);
    if (parameter_error == 0) DelayFor(RemoteNamed(machine != nullptr ? machine : ""));
    JournalEntry entry = Call("InitiateShutdownA");
    const std::string name = machine != nullptr ? machine : "";
    entry["machine"] = name;
    entry["grace"] = grace_period;
    entry["flags"] = flags;
    entry["reason"] = reason;
    const std::optional<size_t> remote = RemoteNamed(name);
    uint32_t error = parameter_error;
    if (error == 0) error = remote ? server_.servers[*remote].shutdown_error : kErrorBadNetPath;
    if (error == 0 && server_.servers[*remote].shutdown_in_progress) {
      error = kErrorShutdownInProgress;
    }
    Finish(entry, error);
    return error;
  }

  uint32_t InitiateShutdownW(const char16_t* machine, const char16_t* message,
                             uint32_t grace_period, uint32_t flags, uint32_t reason) override {
    const uint32_t parameter_error =
        ShutdownParameterError(machine != nullptr, grace_period, flags);
    if (parameter_error == 0 && machine != nullptr) DelayFor(RemoteNamed(Utf16ToUtf8(machine)));
    JournalEntry entry = Call("InitiateShutdownW");
    JournalMachine(entry, machine);
    if (entry.active()) entry["message"] = Utf16ToUtf8(message != nullptr ? message : u"");
    entry["grace"] = grace_period;
    entry["flags"] = flags;
    entry["reason"] = reason;
    if (parameter_error != 0) {
      Finish(entry, parameter_error);
      return parameter_error;
    }
    const Machine target = MachineNamed(machine);
    uint32_t error = target.error != 0 ? target.error : target.initiate_error;
    if (error == 0 && target.shutting_down) error = kErrorShutdownInProgress;
    // A second countdown while one runs, as Windows answers "shutdown /t".
    if (error == 0 && *target.countdown) error = kErrorShutdownIsScheduled;
    if (error == 0) *target.countdown = grace_period > 0;
    Finish(entry, error);
    return error;
  }

  bool AbortSystemShutdownW(const char16_t* machine) override {
    if (machine != nullptr) DelayFor(RemoteNamed(Utf16ToUtf8(machine)));
    JournalEntry entry = Call("AbortSystemShutdownW");
    JournalMachine(entry, machine);
    const Machine target = MachineNamed(machine);
    uint32_t error = target.error != 0 ? target.error : target.abort_error;
    if (error == 0 && !*target.countdown) error = kErrorNoShutdownInProgress;
    if (error == 0) *target.countdown = false;
    return Finish(entry, error);
  }

  void Sleep(uint32_t milliseconds) override {
    JournalEntry entry = Call("Sleep");
    entry["ms"] = milliseconds;
    slept_ms_ += milliseconds;
    Finish(entry, 0);
    entry.Release();
    if (!server_.virtual_sleep) {
      std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
  }

  uint32_t ReadLogonMode(const char16_t* machine, LogonMode* mode) override {
    SimulatedLogonMode* setting = LogonModeOf(machine);
    if (setting != nullptr && setting->delay_ms != 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(setting->delay_ms));
    }
    JournalEntry entry = Call("Win32_TerminalServiceSetting.Get");
    JournalMachine(entry, machine);
    const uint32_t error = LogonModeError(setting, false);
    if (error == 0) {
      mode->SessionBrokerDrainMode = setting->drain;
      mode->Logons = setting->logons;
    }
    Finish(entry, error);
    return error;
  }

  uint32_t WriteLogonMode(const char16_t* machine, const LogonMode& mode) override {
    SimulatedLogonMode* setting = LogonModeOf(machine);
    if (setting != nullptr && setting->delay_ms != 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(setting->delay_ms));
    }
    JournalEntry entry = Call("Win32_TerminalServiceSetting.Put");
    JournalMachine(entry, machine);
    entry["drain"] = mode.SessionBrokerDrainMode;
    entry["logons"] = mode.Logons;
    const uint32_t error = LogonModeError(setting, true);
    if (error == 0) {
      setting->drain = mode.SessionBrokerDrainMode;
      setting->logons = mode.Logons;
    }
    Finish(entry, error);
    return error;
  }

  uint32_t UtcMillisecondsOfDay() override {
    if (server_.utc_ms_of_day) return *server_.utc_ms_of_day;
    using namespace std::chrono;
    const auto now = duration_cast<milliseconds>(system_clock::now().time_since_epoch());
    return static_cast<uint32_t>(now.count() % (24LL * 60 * 60 * 1000));
  }

  bool WTSEnumerateProcessesExW(uintptr_t server, uint32_t* level, uint32_t session_id,
                                WtsProcessInfoEx** processes, uint32_t* count) override {
    Delay(server);
    JournalEntry entry = Call("WTSEnumerateProcessesExW");
    entry["server"] = server;
    entry["level"] = *level;
    entry["session"] = session_id;
    const Addressed target = Address(server);
    uint32_t error = target.error != 0 ? target.error : target.enumerate_processes_error;
    if (error == 0 && (*level != 1 || session_id != kAnySession)) error = kErrorInvalidParameter;
    if (error != 0) return Finish(entry, error);
    auto buffer = std::make_unique<Buffer>();
    const std::set<uint32_t>& ended = target.sessions->ended_processes();
    std::set<uint32_t>& gone = target.sessions->gone_processes();
    const auto add = [this, &buffer](uint32_t in_session, uint32_t pid, const std::string& image,
                                     const std::optional<std::string>& owner,
                                     const SimulatedProcess* details) {
      WtsProcessInfoEx record{};
      record.SessionId = in_session;
      record.ProcessId = pid;
      record.pUserSid = owner ? owner_sids_.at(*owner).data() : nullptr;
      if (details != nullptr) {
        record.NumberOfThreads = details->threads;
        record.HandleCount = details->handles;
        record.PagefileUsage = details->pagefile;
        record.PeakPagefileUsage = details->pagefile;
        record.WorkingSetSize = details->working_set;
        record.PeakWorkingSetSize = details->peak_working_set;
        record.UserTime = int64_t{details->user_ms} * 10'000;
        record.KernelTime = int64_t{details->kernel_ms} * 10'000;
      }
      buffer->processes.push_back(record);
      buffer->images.push_back(Utf8ToUtf16(image));
    };
    // The processes that took the pid of one gone, by the session they are in.
    std::multimap<uint32_t, std::pair<uint32_t, const SimulatedProcess::Replacement*>> replacements;
    std::vector<uint32_t> listed_once;
    for (const SimulatedSession& session : target.sessions->sessions()) {
      for (const SimulatedProcess& process : session.processes) {
        if (ended.count(process.pid) != 0) continue;
        if (gone.count(process.pid) != 0) {
          if (process.replaced_by) {
            replacements.emplace(process.replaced_by->session.value_or(session.id),
                                 std::pair{process.pid, &*process.replaced_by});
          }
          continue;
        }
        if (process.exits_after_listing || process.replaced_by) listed_once.push_back(process.pid);
      }
    }
    std::set<uint32_t> sessions_seen;
    for (const SimulatedSession& session : target.sessions->sessions()) {
      for (const SimulatedProcess& process : session.processes) {
        if (ended.count(process.pid) != 0 || gone.count(process.pid) != 0) continue;
        add(session.id, process.pid, process.image, process.owner, &process);
      }
      if (!sessions_seen.insert(session.id).second) continue;
      const auto [first, last] = replacements.equal_range(session.id);
      for (auto replacement = first; replacement != last; ++replacement) {
        const auto [pid, process] = replacement->second;
        add(session.id, pid, process->image, process->owner, nullptr);
      }
    }
    gone.insert(listed_once.begin(), listed_once.end());
    *count = static_cast<uint32_t>(buffer->processes.size());
    for (size_t i = 0; i < buffer->processes.size(); ++i) {
      buffer->processes[i].pProcessName = buffer->images[i].data();
    }
    // Never an empty array, as for the sessions.
    if (buffer->processes.empty()) buffer->processes.emplace_back();
    *processes = buffer->processes.data();
    entry["count"] = *count;
    Hand(std::move(buffer), *processes);
    return Finish(entry, 0);
  }

  bool WTSFreeMemoryExW(uint32_t type_class, void* memory, uint32_t count) override {
    JournalEntry entry = Call("WTSFreeMemoryExW");
    entry["class"] = type_class;
    entry["count"] = count;
    auto found = buffers_.find(memory);
    const bool freed = found != buffers_.end() && type_class == kWtsTypeProcessInfoLevel1 &&
                       !found->second->processes.empty() && found->second->images.size() == count;
    if (freed) buffers_.erase(found);
    return Finish(entry, freed ? 0 : kErrorInvalidParameter);
  }

  bool WTSTerminateProcess(uintptr_t server, uint32_t process_id, uint32_t exit_code) override {
    Delay(server);
    JournalEntry entry = Call("WTSTerminateProcess");
    entry["server"] = server;
    entry["pid"] = process_id;
    entry["exit_code"] = exit_code;
    const Addressed target = Address(server);
    if (target.error != 0) return Finish(entry, target.error);
    std::set<uint32_t>& ended = target.sessions->ended_processes();
    if (ended.count(process_id) == 0) {
      const bool gone = target.sessions->gone_processes().count(process_id) != 0;
      for (const SimulatedSession& session : target.sessions->sessions()) {
        for (const SimulatedProcess& process : session.processes) {
          if (process.pid != process_id) continue;
          // A pid that another process took ends that one.
          if (gone && !process.replaced_by) break;
          const uint32_t error = gone ? 0 : process.terminate_error;
          if (error == 0) ended.insert(process_id);
          return Finish(entry, error);
        }
      }
    }
    return Finish(entry, kErrorInvalidParameter);
  }

  std::optional<std::u16string> LookupAccountOwner(const char16_t*, void* sid) override {
    std::lock_guard lock(mutex_);
    const auto* bytes = static_cast<const uint8_t*>(sid);
    for (const auto& [owner, owner_sid] : owner_sids_) {
      if (bytes != nullptr && bytes[1] == owner_sid[1] &&
          std::memcmp(bytes, owner_sid.data(), owner_sid.size()) == 0) {
        return Utf8ToUtf16(owner);
      }
    }
    last_error_ = kNoneMapped;
    return std::nullopt;
  }

 private:
  // A NetWkstaGetInfo answer with the text it points at.
  struct WkstaBuffer {
    WkstaInfo100 info{};
    std::u16string name;
  };

  // The NetBIOS name another server gives for itself.
  static std::string ComputerNameOf(const SimulatedRemoteServer& remote) {
    if (remote.computer_name) return *remote.computer_name;
    std::string name = remote.name.substr(0, std::min<size_t>(remote.name.find('.'), 15));
    for (char& c : name) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return name;
  }

  // Whether another server is this machine under another name.
  bool IsThisMachine(const SimulatedRemoteServer& remote) const {
    return SameServerName(ComputerNameOf(remote), *server_.computer_name);
  }

  struct Buffer {
    std::vector<WtsSessionInfo> records;
    std::vector<char> text;
    std::u16string wide;
    WtsInfo info{};
    WtsClientAddress address{};
    std::vector<WtsProcessInfoEx> processes;
    std::vector<std::u16string> images;
  };

  // Gives every owner its SID: the well-known SIDs of the service accounts,
  // so that Windows (and Wine) name them too, and SIDs of a domain that no
  // system knows for the others, which only this layer resolves.
  void AssignOwnerSids(const std::vector<SimulatedSession>& sessions) {
    static const std::pair<const char*, uint32_t> kWellKnown[] = {
        {"NT AUTHORITY\\SYSTEM", 18},
        {"NT AUTHORITY\\LOCAL SERVICE", 19},
        {"NT AUTHORITY\\NETWORK SERVICE", 20},
    };
    const auto assign = [this](const std::optional<std::string>& owner) {
      if (!owner || owner_sids_.count(*owner) != 0) return;
      std::vector<uint32_t> sub_authorities = {21, 2910, 1783, 5517,
                                               1000 + static_cast<uint32_t>(owner_sids_.size())};
      for (auto [name, rid] : kWellKnown) {
        if (SameServerName(name, *owner)) sub_authorities = {rid};
      }
      std::vector<uint8_t> sid = {1, static_cast<uint8_t>(sub_authorities.size()), 0, 0, 0, 0, 0,
                                  5};
      for (uint32_t part : sub_authorities) {
        for (int shift = 0; shift < 32; shift += 8)
          sid.push_back(static_cast<uint8_t>(part >> shift));
      }
      owner_sids_.emplace(*owner, std::move(sid));
    };
    for (const SimulatedSession& session : sessions) {
      for (const SimulatedProcess& process : session.processes) {
        assign(process.owner);
        if (process.replaced_by) assign(process.replaced_by->owner);
      }
    }
  }

  static int64_t RealClock() {
    using namespace std::chrono;
    return FileTimeFromUnixSeconds(0) +
           duration_cast<microseconds>(system_clock::now().time_since_epoch()).count() * 10;
  }

  JournalEntry Call(const char* name) {
    JournalEntry entry(static_cast<bool>(journal_), mutex_);
    entry["call"] = name;
    return entry;
  }

  // Completes and journals one call; returns its success.
  bool Finish(JournalEntry& entry, uint32_t error) {
    entry["ok"] = error == 0;
    if (error != 0) {
      entry["error"] = error;
      last_error_ = error;
    }
    Write(entry);
    return error == 0;
  }

  bool Fail(uint32_t error) {
    last_error_ = error;
    return false;
  }

  void Write(const JournalEntry& entry) {
    // A name typed on the command line may be any bytes: those that are not
    // UTF-8 are journaled as U+FFFD instead of failing the call.
    if (journal_ && entry.active()) {
      journal_(entry.json().dump(-1, ' ', false, OrderedJson::error_handler_t::replace));
    }
  }

  void Hand(std::unique_ptr<Buffer> buffer, void* address) {
    buffers_[address] = std::move(buffer);
  }

  // A handle that WTSOpenServerA handed out.
  struct OpenedHandle {
    std::optional<size_t> remote;  // its place in `servers`; none: an unknown name
    bool open = true;
  };

  // The place in `servers` of the server with this name, in any letter case.
  std::optional<size_t> RemoteNamed(std::string_view name) const {
    for (size_t i = 0; i < server_.servers.size(); ++i) {
      if (SameServerName(server_.servers[i].name, name)) return i;
    }
    return std::nullopt;
  }

  OpenedHandle* Opened(uintptr_t handle) {
    if (handle == kCurrentServerHandle || handle > handles_.size()) return nullptr;
    OpenedHandle& opened = handles_[handle - 1];
    return opened.open ? &opened : nullptr;
  }

  // A server that answers slowly keeps the caller waiting, without the lock.
  void Delay(uintptr_t handle) {
    std::optional<size_t> remote;
    {
      std::lock_guard lock(mutex_);
      if (handle != kCurrentServerHandle && handle <= handles_.size()) {
        remote = handles_[handle - 1].remote;
      }
    }
    DelayFor(remote);
  }
  void DelayFor(std::optional<size_t> remote) {
    if (!remote || server_.servers[*remote].delay_ms == 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(server_.servers[*remote].delay_ms));
  }

  Addressed Address(uintptr_t handle) {
    if (!server_.terminal_services) return {nullptr, 0, kErrorCallNotImplemented, {}};
    if (handle == kCurrentServerHandle) {
      return {&local_, server_.enumerate_error, 0, server_.current_time,
              server_.enumerate_processes_error};
    }
    if (handle > handles_.size()) return {nullptr, 0, kErrorInvalidHandle, {}};
    const OpenedHandle& opened = handles_[handle - 1];
    // A closed handle, or one of a name that nobody answers to.
    if (!opened.open || !opened.remote) return {nullptr, 0, kErrorRpcServerUnavailable, {}};
    const SimulatedRemoteServer& remote = server_.servers[*opened.remote];
    if (IsThisMachine(remote)) return Address(kCurrentServerHandle);
    return {&remote_[*opened.remote], remote.enumerate_error, 0, remote.current_time,
            remote.enumerate_processes_error};
  }

  // Journals a session query and finds the session it asks about; `error`
  // is set when there is none (or no server to ask).
  const SimulatedSession* QueriedSession(JournalEntry& entry, uintptr_t server, uint32_t session_id,
                                         uint32_t info_class, uint32_t* error) {
    entry["server"] = server;
    entry["session"] = session_id;
    entry["class"] = info_class;
    const Addressed target = Address(server);
    const SimulatedSession* session = target.error == 0 ? Present(target, session_id) : nullptr;
    *error = target.error != 0 ? target.error : session == nullptr ? kErrorNoSuchSession : 0;
    return session;
  }

  bool SessionCall(const char* name, uintptr_t server, uint32_t session_id, bool wait,
                   uint32_t current_error, uint32_t SimulatedSession::*session_error) {
    if (session_id != kCurrentSession) Delay(server);
    JournalEntry entry = Call(name);
    entry["server"] = server;
    entry["session"] = session_id;
    entry["wait"] = wait;
    // The caller's own session is always on the local server.
    const Addressed target = Address(session_id == kCurrentSession ? kCurrentServerHandle : server);
    uint32_t error = 0;
    if (target.error != 0) {
      error = target.error;
    } else if (session_id == kCurrentSession) {
      error = current_error;
    } else if (const SimulatedSession* session = Present(target, session_id)) {
      error = session->*session_error;
    } else {
      error = kErrorNoSuchSession;
    }
    return Finish(entry, error);
  }

  // ---- The server's clock: sessions that leave or change ----------------

  // How far the server's clock has moved on since the program started: by
  // the journaled waits with `virtual_sleep`, otherwise in real time. Under
  // the lock.
  uint64_t ElapsedSeconds() const {
    if (server_.virtual_sleep) return slept_ms_ / 1000;
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                     std::chrono::steady_clock::now() - started_)
                                     .count());
  }

  bool Gone(const SimulatedSession& session) const {
    return session.leaves_after_s && ElapsedSeconds() >= *session.leaves_after_s;
  }

  // The session's state by now: `state_after` once its time has come,
  // otherwise `state`.
  uint32_t StateNow(const SimulatedSession& session, uint32_t state) const {
    if (session.state_after_s && ElapsedSeconds() >= *session.state_after_s) {
      return session.state_after;
    }
    return state;
  }

  // A session of the addressed server that has not left. Under the lock.
  const SimulatedSession* Present(const Addressed& target, uint32_t session_id) {
    const SimulatedSession* session = target.sessions->Find(session_id);
    return session != nullptr && !Gone(*session) ? session : nullptr;
  }

  // Waits, without the lock, for as long as the session's user takes to
  // answer; a send that fails does so at once.
  void AwaitAnswer(uintptr_t server, uint32_t session_id) {
    uint32_t answer_ms = 0;
    {
      std::lock_guard lock(mutex_);
      const Addressed target = Address(server);
      const SimulatedSession* session = target.error == 0 ? Present(target, session_id) : nullptr;
      if (session != nullptr && session->send_error == 0) answer_ms = session->answer_ms;
    }
    if (answer_ms != 0) std::this_thread::sleep_for(std::chrono::milliseconds(answer_ms));
  }

  static void JournalMachine(JournalEntry& entry, const char16_t* machine) {
    if (!entry.active()) return;
    if (machine == nullptr) {
      entry["machine"] = nullptr;
    } else {
      entry["machine"] = Utf16ToUtf8(machine);
    }
  }

  // What a shutdown request for a machine reaches: its countdown and its
  // failures, or the error every request fails with.
  struct Machine {
    bool* countdown = nullptr;
    uint32_t initiate_error = 0;
    uint32_t abort_error = 0;
    uint32_t error = 0;
    bool shutting_down = false;
  };

  // Null names this machine.
  Machine MachineNamed(const char16_t* machine) {
    if (!server_.terminal_services) return {nullptr, 0, 0, kErrorCallNotImplemented};
    if (machine == nullptr) {
      return {&local_countdown_, server_.initiate_shutdown_error, server_.abort_error, 0,
              server_.shutdown_in_progress};
    }
    const std::optional<size_t> remote = RemoteNamed(Utf16ToUtf8(machine));
    if (!remote) return {nullptr, 0, 0, kErrorBadNetPath};
    const SimulatedRemoteServer& other = server_.servers[*remote];
    return {&remote_countdowns_[*remote].pending, other.shutdown_error, other.abort_error, 0,
            other.shutdown_in_progress};
  }

  // The logon mode of a machine (null: this one); null when `servers` does
  // not hold it. Its values are read and written under the journal's lock.
  SimulatedLogonMode* LogonModeOf(const char16_t* machine) {
    if (machine == nullptr) return &server_.logon_mode;
    const std::optional<size_t> remote = RemoteNamed(Utf16ToUtf8(machine));
    return remote ? &server_.servers[*remote].logon_mode : nullptr;
  }

  // Without Terminal Services there is no such setting to reach.
  uint32_t LogonModeError(const SimulatedLogonMode* setting, bool writing) const {
    if (!server_.terminal_services) return kErrorCallNotImplemented;
    if (setting == nullptr) return kRpcServerUnavailableHresult;
    if (setting->error != 0) return setting->error;
    return writing ? setting->write_error : 0;
  }

  bool OpenToken(std::optional<SimulatedToken>& token, uint32_t error, Handle* handle) {
    if (!token) {
      *handle = nullptr;
      return Fail(error);
    }
    *handle = &*token;
    return true;
  }

  ServerDescription server_;
  JournalSink journal_;
  std::string real_user_name_;
  static thread_local uint32_t last_error_;
  std::mutex mutex_;
  std::unordered_map<void*, std::unique_ptr<Buffer>> buffers_;
  SessionSet local_;
  std::vector<SessionSet> remote_;
  std::vector<OpenedHandle> handles_;
  // Whether a restart or power-off countdown runs on a machine.
  struct Countdown {
    bool pending = false;
  };
  bool local_countdown_ = false;
  std::vector<Countdown> remote_countdowns_;
  // Each owner's SID; the records point at these bytes.
  std::map<std::string, std::vector<uint8_t>> owner_sids_;
  // The server's clock: the journaled waits, or the real time since start.
  uint64_t slept_ms_ = 0;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

thread_local uint32_t SimulatedServer::last_error_ = 0;

void HoldWideNames(SimulatedSession& session) {
  session.wide_user = Utf8ToUtf16(session.user);
  session.wide_domain = Utf8ToUtf16(session.domain);
}

}  // namespace

std::unique_ptr<TerminalServer> CreateSimulatedServer(const std::string& json, JournalSink journal,
                                                      const std::string& real_user_name,
                                                      std::string* error,
                                                      const AnsiEncoder& to_ansi,
                                                      const std::string& real_host_name) {
  std::optional<ServerDescription> description = ReadServerDescription(json, error);
  if (!description) return nullptr;
  for (SimulatedSession& session : description->sessions) HoldWideNames(session);
  for (SimulatedRemoteServer& remote : description->servers) {
    for (SimulatedSession& session : remote.sessions) HoldWideNames(session);
  }
  // A server with a legacy code page answers its A calls in it, whatever
  // the program's own code page is.
  const AnsiEncoder legacy = Windows1252;
  const AnsiEncoder& answer_ansi = description->ansi_code_page == 1252 ? legacy : to_ansi;
  if (answer_ansi) {
    const auto encode = [&answer_ansi](std::vector<SimulatedSession>& sessions) {
      for (SimulatedSession& session : sessions) {
        session.station = answer_ansi(session.station);
        session.user = answer_ansi(session.user);
        session.domain = answer_ansi(session.domain);
      }
    };
    encode(description->sessions);
    // Names typed on the command line come in the program's code page.
    for (SimulatedRemoteServer& remote : description->servers) {
      if (to_ansi) remote.name = to_ansi(remote.name);
      encode(remote.sessions);
    }
    if (description->user_name) description->user_name = answer_ansi(*description->user_name);
  }
  return std::make_unique<SimulatedServer>(std::move(*description), std::move(journal),
                                           real_user_name, real_host_name);
}

std::unique_ptr<TerminalServer> CreateServerWithoutTerminalServices(
    JournalSink journal, const std::string& real_user_name, const std::string& real_host_name) {
  ServerDescription none;
  none.terminal_services = false;
  none.own_session.reset();
  return std::make_unique<SimulatedServer>(std::move(none), std::move(journal), real_user_name,
                                           real_host_name);
}

AnsiEncoder ProcessAnsiEncoder(System& system) {
  return [&system](std::string_view utf8) { return system.Utf16ToAnsi(Utf8ToUtf16(utf8)); };
}

}  // namespace quillmarsh::simulated
