// clang-format off
#include "transport/download_resume_handler_win.h"

#include <aclapi.h>
// clang-format on

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "agent/agent_config.h"
#include "agent/file_utils.h"
#include "base/time_source.h"
#include "logging/logger.h"
#include "platform/registry.h"
#include "platform/text_conversion.h"
#include "transport/transfer_rules.h"

namespace vx {
namespace {

// The metadata keys are the agent's: opened in its registry view.
constexpr REGSAM kMetadataAccess = KEY_ALL_ACCESS | kAgentRegistryView;
constexpr DWORD kDefaultSaveLimit = 1048576;
// A larger limit would only make the gathering buffer huge; appends stay frequent enough to resume.
constexpr DWORD kLargestSaveLimit = 64u * 1024 * 1024;
constexpr DWORD kRepositoryNameBytes = 255;
constexpr DWORD kLastModifiedBytes = 255;
constexpr const wchar_t* kDefaultRepositoryName = L"DownloadRepository\\";
constexpr const char* kInProgressValue = "downloadInProgress";
// The URL an id belongs to, exactly as given, and the ETag of the version its partial file holds.
constexpr const wchar_t* kUrlValue = L"Url";
constexpr const char* kEtagValue = "ETag";
// Ids of other URLs looked at for one whose own id a URL met.
constexpr DWORD kLargestIdSearch = 4096;

std::string FileMetaDataKey() { return std::string(kAgentRootKey) + "\\FileMetaData"; }

std::int64_t NowMilliseconds() {
  TimeSource& clock = Time();
  return clock.UnixSeconds() * 1000 + clock.LocalNow().millisecond;
}

std::string Narrow(const std::wstring& text) {
  std::string narrow;
  if (!ChangeWideToUtf8Str(text.c_str(), narrow)) narrow.clear();
  return narrow;
}

std::wstring Wide(const std::string& text) {
  std::wstring wide;
  if (!ChangeUtf8ToWideStr(text.c_str(), wide)) wide.clear();
  return wide;
}

// Runs an operation, turning anything thrown inside into its "Error caught" line and 13.
template <typename Operation>
int Guarded(const char* caught_message, Operation&& operation) {
  try {
    return operation();
  } catch (...) {
    LogError("%s", caught_message);
    return 13;
  }
}

// The size of a file, or none when it cannot be measured (missing included).
std::optional<std::uint64_t> FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA attributes{};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes)) return std::nullopt;
  return (static_cast<std::uint64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
}

// Shortens a file to size bytes.
bool CutBack(const std::wstring& path, std::uint32_t size) {
  const UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER position{};
  position.QuadPart = size;
  return file && ::SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.get());
}

// Moves the finished file onto the destination so that the destination is never seen half written:
// a rename where both lie on one volume, else a copy beside the destination and a rename of that.
DWORD PlaceFile(const std::wstring& source, const std::wstring& destination) {
  if (::MoveFileExW(source.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING)) return 0;
  DWORD code = ::GetLastError();
  if (code != ERROR_NOT_SAME_DEVICE) return code;
  const std::wstring staging = destination + L"." + std::to_wstring(CurrentThreadId()) + L".tmp";
  if (!::CopyFileW(source.c_str(), staging.c_str(), FALSE)) return ::GetLastError();
  if (::MoveFileExW(staging.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    ::DeleteFileW(source.c_str());
    return 0;
  }
  code = ::GetLastError();
  ::DeleteFileW(staging.c_str());
  return code;
}

// The named object that a running download holds for its id.
std::wstring ClaimObjectName(const std::string& id) { return L"Global\\VXAgentResumableDownload-" + Wide(id); }

// The owner this process gives the objects it creates (a TOKEN_OWNER), empty when unknown.
std::vector<unsigned char> ThisAccountOwner() {
  UniqueHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
  DWORD size = 0;
  (void)::GetTokenInformation(token.get(), TokenOwner, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  if (size == 0 || !::GetTokenInformation(token.get(), TokenOwner, buffer.data(), size, &size)) return {};
  return buffer;
}

PSID OwnerSid(std::vector<unsigned char>& owner) {
  return owner.empty() ? nullptr : reinterpret_cast<TOKEN_OWNER*>(owner.data())->Owner;
}

// Whether a kernel object's owner is this process's account.
bool OwnedByThisAccount(HANDLE object) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const UniqueLocalMemory descriptor_memory(descriptor);
  std::vector<unsigned char> ours = ThisAccountOwner();
  return owner != nullptr && OwnerSid(ours) != nullptr && ::EqualSid(owner, OwnerSid(ours));
}

// Creates (or opens) the named object of an id, its owner stated explicitly as this account so that
// every system records it (the access rights stay the account's defaults).
UniqueHandle CreateClaimObject(const std::string& id) {
  std::vector<unsigned char> owner = ThisAccountOwner();
  SECURITY_DESCRIPTOR descriptor{};
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, FALSE};
  if (OwnerSid(owner) != nullptr && ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
      ::SetSecurityDescriptorOwner(&descriptor, OwnerSid(owner), FALSE)) {
    attributes.lpSecurityDescriptor = &descriptor;
  }
  return UniqueHandle(::CreateMutexW(&attributes, FALSE, ClaimObjectName(id).c_str()));
}

// Whether a running download holds the object of an id: as for a claim, only an object of this
// account's counts; one that cannot be opened, or that another account made, holds nothing.
bool IdHeld(const std::string& id) {
  const UniqueHandle object(::OpenMutexW(SYNCHRONIZE | READ_CONTROL, FALSE, ClaimObjectName(id).c_str()));
  return object && OwnedByThisAccount(object.get());
}

}  // namespace

// Flushes the partial file and records the size it reached, on a thread of its own: sizes submitted
// while a flush runs are merged into the next one, so the record lags by at most that much.
class DownloadResumeHandler::Recorder {
 public:
  Recorder(DownloadResumeHandler& handler, std::uint32_t recorded)
      : handler_(handler), wanted_(recorded), recorded_(recorded), thread_([this] { Run(); }) {}
  ~Recorder() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  void Submit(std::uint32_t size) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      wanted_ = size;
    }
    wake_.notify_all();
  }

  // The first failure since the last call, without waiting.
  int TakeError() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(error_, 0);
  }

  // Waits until every submitted size is flushed and recorded; then as TakeError.
  int Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    settled_.wait(lock, [this] { return recorded_ == wanted_; });
    return std::exchange(error_, 0);
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stopping_ || recorded_ != wanted_; });
      if (recorded_ == wanted_) return;  // stopping with nothing left to record
      const std::uint32_t size = wanted_;
      lock.unlock();
      int code = 13;
      try {
        code = handler_.FlushAndRecord(size, true);
      } catch (...) {
        LogError("Error caught in ProcessDownloadedBuffer\n");
      }
      lock.lock();
      recorded_ = size;
      if (code != 0 && error_ == 0) error_ = code;
      settled_.notify_all();
    }
  }

  DownloadResumeHandler& handler_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable settled_;
  std::uint32_t wanted_;
  std::uint32_t recorded_;
  int error_ = 0;
  bool stopping_ = false;
  std::thread thread_;  // last: starts once everything it uses is in place
};

DownloadResumeHandler::DownloadResumeHandler() = default;

DownloadResumeHandler::~DownloadResumeHandler() {
  try {
    (void)Settle();
    recorder_.reset();
    ReleasePartialFile();
    // A temporary download records nothing, so its partial file cannot outlive it.
    if (another_download_ && !partial_file_.empty()) ::DeleteFileW(partial_file_.c_str());
    if (!unique_id_.empty() && !another_download_) {
      RegistryKey key;
      if (key.OpenKey(HKEY_LOCAL_MACHINE, IdKey().c_str(), kMetadataAccess) == ERROR_SUCCESS) {
        const LSTATUS status = key.DeleteValue(kInProgressValue);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
          LogError("Error caught in destructor ~DownloadResumeHandler\n");
        }
      }
    }
    ReleaseClaim();
  } catch (...) {
    LogError("Error caught in destructor ~DownloadResumeHandler\n");
  }
}

std::string DownloadResumeHandler::IdKey() const { return FileMetaDataKey() + "\\" + unique_id_; }

int DownloadResumeHandler::Initialize(const std::wstring& destination, const std::string& server_last_modified,
                                      const std::wstring& url, const std::string& server_etag) {
  return Guarded("Error caught in DownloadResumeHandler::Initialize\n", [&] {
    LogInfo("Inside DownloadResumeHandler::Initialize\n");
    destination_ = destination;
    server_last_modified_ = server_last_modified;
    server_etag_ = server_etag;
    url_ = url;
    written_this_run_ = 0;
    const int result = InitializeMetadata();
    if (result == 0) {
      RemoveUnnamedRecords();
      RemoveUnrecordedFiles();
    }
    if (result != 0 || another_download_) return result;
    if (claim_) return 0;  // taken over and marked while its metadata was read
    // A new id: hold it against other downloads and mark it in progress.
    if (ClaimId() == IdClaim::kHeldByAnother) {
      LogInfo("Another download in progress - hence procedding for temporary download\n");
      another_download_ = true;
      unique_id_.clear();
      (void)FormUniqueFileName();
      (void)ClaimId();
      PreDownloadCleaningOfPartialFile();
      return 0;
    }
    RegistryKey key;
    DWORD disposition = 0;
    if (key.CreateKey(HKEY_LOCAL_MACHINE, IdKey().c_str(), kMetadataAccess, &disposition) == ERROR_SUCCESS) {
      MarkInProgress(key);
    }
    return 0;
  });
}

int DownloadResumeHandler::InitializeMetadata() {
  const std::string metadata_key = FileMetaDataKey();
  RegistryKey key;
  if (key.OpenKey(HKEY_LOCAL_MACHINE, metadata_key.c_str(), kMetadataAccess) != ERROR_SUCCESS) {
    LogDebug("failure in openeing reg key\n");
    DWORD disposition = 0;
    if (const LSTATUS status = key.CreateKey(HKEY_LOCAL_MACHINE, metadata_key.c_str(), kMetadataAccess, &disposition)) {
      LogError("DownloadResumeHandler::Initialize : could not create the download metadata key %d\n",
               static_cast<int>(status));
      return 13;
    }
    repository_name_ = kDefaultRepositoryName;
    (void)key.WriteText(L"IntermediateRepositoryName", repository_name_);
    if (FormUniqueFileName() != 0) return 13;
    (void)key.WriteText(url_.c_str(), Wide(unique_id_));
    (void)key.WriteDword("InterSaveByteLimit", save_limit_);
    LogError("Setting variable for DOWNLOAD_FOLDER and url  %ls & id - %s\n", repository_name_.c_str(),
             unique_id_.c_str());
    return 0;
  }

  ReadSettings(key);
  std::wstring id;
  if (key.ReadText(url_.c_str(), id) == ERROR_SUCCESS && !id.empty()) {
    unique_id_ = Narrow(id);
    if (!IdBelongsToUrl(unique_id_)) {
      // Another URL's id (the value name matched without regard to case): this URL's own, if any.
      LogInfo("Unique id %s belongs to another URL\n", unique_id_.c_str());
      unique_id_ = FindIdOfUrl();
    }
  } else {
    // The value may have gone with another URL that shared its name; the id's record names its URL.
    unique_id_ = FindIdOfUrl();
  }
  if (!unique_id_.empty()) {
    if (FormUniqueFileName() != 0) return 13;
    LogInfo("Unique id for the file is %s\n", unique_id_.c_str());
    if (GetFileDataFromRegistry() != 0) return 13;
  } else if (FormUniqueFileName() != 0) {
    return 13;
  }
  if (!another_download_) (void)key.WriteText(url_.c_str(), Wide(unique_id_));

  LogInfo("ResumeGetRequestEx : To update download count\n");
  DWORD count = 0;
  if (key.ReadDword("DownloadCount", &count) != ERROR_SUCCESS) count = 0;
  (void)key.WriteDword("DownloadCount", count + 1);
  key.CloseKey();
  LogInfo("End of DownloadResumeHandler::Initialize\n");
  return 0;
}

void DownloadResumeHandler::ReadSettings(RegistryKey& key) {
  LogDebug("reading folder info\n");
  std::wstring repository;
  if (key.ReadText(L"IntermediateRepositoryName", repository) == ERROR_SUCCESS && !repository.empty() &&
      repository.size() < kRepositoryNameBytes) {
    repository_name_ = repository;
  } else {
    repository_name_ = kDefaultRepositoryName;
    (void)key.WriteText(L"IntermediateRepositoryName", repository_name_);
  }
  // The repository is one directory below the installation directory.
  if (repository_name_.back() != L'\\') repository_name_ += L'\\';

  LogDebug("reading periodic limit  info\n");
  DWORD limit = 0;
  if (key.ReadDword("InterSaveByteLimit", &limit) != ERROR_SUCCESS) {
    limit = kDefaultSaveLimit;
    (void)key.WriteDword("InterSaveByteLimit", limit);
  }
  if (limit > kLargestSaveLimit) {
    LogError("InterSaveByteLimit %u is too large; %u is used\n", static_cast<unsigned>(limit),
             static_cast<unsigned>(kLargestSaveLimit));
    limit = kLargestSaveLimit;
  }
  save_limit_ = limit;
  LogInfo("Download folder = %ls\tperiodic save limit = %d\n", repository_name_.c_str(), static_cast<int>(save_limit_));
}

int DownloadResumeHandler::FormUniqueFileName() {
  return Guarded("Error caught in FormUniqueFileName\n", [&] {
    if (unique_id_.empty()) {
      const std::string base = std::to_string(CurrentTimeInSeconds()) + std::to_string(::GetCurrentProcessId()) +
                               std::to_string(CurrentThreadId());
      // The same second, process and thread give the same digits (and the digits of two numbers run
      // together): a name already in use gets a sequence number, so two downloads never share one.
      unique_id_ = base;
      for (int sequence = 2; IdTaken(unique_id_); ++sequence) unique_id_ = base + "-" + std::to_string(sequence);
      LogInfo("Formed Unique id for the file is %s\n", unique_id_.c_str());
    }
    const std::wstring repository = Wide(gv_installDir.value_or(std::string())) + repository_name_;
    partial_file_ = repository + Wide(unique_id_);
    if (!::CreateDirectoryW(repository.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
      LogError("FormUniqueFileName : could not create the directory %ls --> %d \n", repository.c_str(),
               static_cast<int>(::GetLastError()));
    }
    LogInfo("Temporary file path is %ls\n", partial_file_.c_str());
    return 0;
  });
}

bool DownloadResumeHandler::IdTaken(const std::string& id) const {
  RegistryKey key;
  if (key.OpenKey(HKEY_LOCAL_MACHINE, (FileMetaDataKey() + "\\" + id).c_str(), KEY_READ | kAgentRegistryView) ==
      ERROR_SUCCESS)
    return true;
  const std::wstring file = Wide(gv_installDir.value_or(std::string())) + repository_name_ + Wide(id);
  return ::GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool DownloadResumeHandler::IdBelongsToUrl(const std::string& id) const {
  RegistryKey key;
  if (key.OpenKey(HKEY_LOCAL_MACHINE, (FileMetaDataKey() + "\\" + id).c_str(), KEY_READ | kAgentRegistryView) !=
      ERROR_SUCCESS) {
    return true;  // nothing recorded for it yet
  }
  std::wstring owner;
  // A record without its URL was made before ids named their URL: it is taken as the value says.
  return key.ReadText(kUrlValue, owner) != ERROR_SUCCESS || owner == url_;
}

std::string DownloadResumeHandler::FindIdOfUrl() const {
  RegistryKey key;
  if (key.OpenKey(HKEY_LOCAL_MACHINE, FileMetaDataKey().c_str(), KEY_READ | kAgentRegistryView) != ERROR_SUCCESS) {
    return std::string();
  }
  for (DWORD index = 0; index < kLargestIdSearch; ++index) {
    char name[256] = {};
    DWORD size = sizeof(name);
    const LSTATUS status = ::RegEnumKeyExA(key.handle(), index, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) continue;
    RegistryKey id_key;
    std::wstring owner;
    if (id_key.OpenKey(HKEY_LOCAL_MACHINE, (FileMetaDataKey() + "\\" + name).c_str(), KEY_READ | kAgentRegistryView) ==
            ERROR_SUCCESS &&
        id_key.ReadText(kUrlValue, owner) == ERROR_SUCCESS && owner == url_) {
      return name;
    }
  }
  return std::string();
}

PartialFileRecord DownloadResumeHandler::ReadPartialFileRecord(RegistryKey& key) const {
  PartialFileRecord record;
  char last_modified[kLastModifiedBytes + 1] = {};
  DWORD size = kLastModifiedBytes;
  if (key.ReadString("LastModifiedTime", last_modified, &size) == ERROR_SUCCESS) record.last_modified = last_modified;
  std::wstring etag;
  if (key.ReadText(Wide(kEtagValue).c_str(), etag) == ERROR_SUCCESS) record.etag = Narrow(etag);
  DWORD stored = 0;
  if (key.ReadDword("PartialFileSize", &stored) == ERROR_SUCCESS) record.size = stored;
  record.file_size = FileSize(partial_file_);
  DWORD mark = 0;
  record.in_progress = key.ReadDword(kInProgressValue, &mark) == ERROR_SUCCESS;
  record.last_retry_ms = ReadLastRetryTime(key);
  return record;
}

int DownloadResumeHandler::GetFileDataFromRegistry() {
  return Guarded("Error caught in GetFileDataFromRegistry\n", [&] {
    LogInfo("Inside GetFileDataFromRegistry\n");
    RegistryKey key;
    if (key.OpenKey(HKEY_LOCAL_MACHINE, IdKey().c_str(), kMetadataAccess) != ERROR_SUCCESS) {
      LogError("GetFileDataFromRegistry; Registry subkey not found\n");
      PreDownloadCleaningOfPartialFile();
      return 0;
    }
    const PartialFileRecord record = ReadPartialFileRecord(key);
    stored_last_modified_ = record.last_modified;
    LogInfo("GetFileDataFromRegistry last modified time in registry   %s from server %s\n",
            stored_last_modified_.c_str(), server_last_modified_.c_str());
    if (record.size) {
      LogInfo("GetFileDataFromRegistry partial downloaded filesize  in registry %d from file  %d\n",
              static_cast<int>(*record.size), static_cast<int>(record.file_size.value_or(0)));
    }
    const IdClaim claim = ClaimId();
    const ResumeDecision decision = DecideResume(record, server_last_modified_, server_etag_, claim, NowMilliseconds());
    if (decision.owner == PartialFileOwner::kThisDownload) {
      TakeOwnership(key, record, decision);
    } else {
      LogInfo("GetFileDataFromRegistry - dwonload in progress flag is set\n");
      key.CloseKey();
      MoveToAnotherId(decision.owner);
    }
    return 0;
  });
}

void DownloadResumeHandler::TakeOwnership(RegistryKey& key, const PartialFileRecord& record,
                                          const ResumeDecision& decision) {
  if (record.in_progress) {
    // The download that set the mark ended without clearing it (it was stopped or killed): what it
    // recorded is consistent, so it is resumed like any other.
    LogInfo("GetFileDataFromRegistry - download in progress flag was left by a download that has ended\n");
  }
  MarkInProgress(key);
  bool resume = decision.resume;
  if (resume) {
    stored_partial_size_ = *record.size;
    resume_offset_ = *record.size;
    last_retry_time_ = record.last_retry_ms;
    if (key.ReadDword("RetryCount", &retry_count_) != ERROR_SUCCESS) retry_count_ = 0;
    LogInfo("GetFileDataFromRegistry last retry time %d count %d\n", static_cast<int>(last_retry_time_),
            static_cast<int>(retry_count_));
  }
  // Only the owner may touch the file: the unrecorded tail of an ended download is cut off.
  if (decision.cut_back) {
    if (CutBack(partial_file_, stored_partial_size_)) {
      LogInfo("GetFileDataFromRegistry partial file cut back to the %d bytes recorded\n",
              static_cast<int>(stored_partial_size_));
    } else {
      resume = false;
    }
  }
  if (!resume) PreDownloadCleaningOfPartialFile();
}

void DownloadResumeHandler::MoveToAnotherId(PartialFileOwner owner) {
  if (owner == PartialFileOwner::kRunningDownload) {
    LogInfo("Another download in progress - hence procedding for temporary download\n");
    another_download_ = true;
  } else {
    LogInfo(
        "GetFileDataFromRegistry - download in progress flag was set before 90 mins so cleaning files and "
        "proceeding\n");
    (void)CleanFileAndRegistry();
  }
  ReleaseClaim();
  unique_id_.clear();
  (void)FormUniqueFileName();
  if (another_download_) (void)ClaimId();  // its unrecorded file is kept from the sweep while it runs
  PreDownloadCleaningOfPartialFile();
}

namespace {

// The ids that the URL values of the metadata key name, at most kLargestIdSearch of them.
std::vector<std::wstring> NamedIds(const RegistryKey& key) {
  std::vector<std::wstring> ids;
  std::vector<wchar_t> name(16384);  // the longest value name the registry allows, with its NUL
  for (DWORD index = 0; index < kLargestIdSearch; ++index) {
    DWORD name_size = static_cast<DWORD>(name.size());
    DWORD type = 0;
    wchar_t id[64] = {};
    DWORD id_size = sizeof(id) - sizeof(wchar_t);
    const LSTATUS status = ::RegEnumValueW(key.handle(), index, name.data(), &name_size, nullptr, &type,
                                           reinterpret_cast<BYTE*>(id), &id_size);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status == ERROR_SUCCESS && type == REG_SZ) ids.emplace_back(id);  // a longer value names no id
  }
  return ids;
}

}  // namespace

// An id record that no URL value names, and whose own URL has no value of its name either, belongs
// to a download stopped while it removed its metadata (the URL's value goes first): no URL will ever
// find it again, so the next download that looks removes it, and the sweep of the files then its
// partial file. A record whose URL meets a value of the same name is found through that URL (two
// URLs that differ only in case share one value); a held id is never touched.
void DownloadResumeHandler::RemoveUnnamedRecords() const {
  RegistryKey key;
  if (key.OpenKey(HKEY_LOCAL_MACHINE, FileMetaDataKey().c_str(), KEY_READ | kAgentRegistryView) != ERROR_SUCCESS) {
    return;
  }
  const std::vector<std::wstring> named = NamedIds(key);
  std::vector<std::string> unnamed;
  for (DWORD index = 0; index < kLargestIdSearch; ++index) {
    char name[256] = {};
    DWORD size = sizeof(name);
    const LSTATUS status = ::RegEnumKeyExA(key.handle(), index, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS || !IsDownloadIdName(name) || name == unique_id_) continue;
    if (std::find(named.begin(), named.end(), Wide(name)) != named.end()) continue;
    RegistryKey record;
    std::wstring owner;
    if (record.OpenKey(HKEY_LOCAL_MACHINE, (FileMetaDataKey() + "\\" + name).c_str(), KEY_READ | kAgentRegistryView) ==
            ERROR_SUCCESS &&
        record.ReadText(kUrlValue, owner) == ERROR_SUCCESS &&
        ::RegQueryValueExW(key.handle(), owner.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
      continue;
    }
    unnamed.emplace_back(name);
  }
  key.CloseKey();
  for (const std::string& id : unnamed) {
    if (IdHeld(id)) continue;
    if (DeleteRegistryKeyTree(HKEY_LOCAL_MACHINE, (FileMetaDataKey() + "\\" + id).c_str()) == 1) {
      LogInfo("DownloadResumeHandler : removing the metadata of the download id %s that no URL names \n", id.c_str());
    }
  }
}

// A partial file without a metadata key whose id no running download holds belongs to a download
// that ended without removing it (a temporary download that was killed): nothing will ever resume
// or remove it, so the next download that looks removes it.
void DownloadResumeHandler::RemoveUnrecordedFiles() const {
  const std::wstring repository = Wide(gv_installDir.value_or(std::string())) + repository_name_;
  WIN32_FIND_DATAW found{};
  const UniqueFindHandle search(::FindFirstFileW((repository + L"*").c_str(), &found));
  if (!search) return;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    const std::string id = Narrow(found.cFileName);
    if (!IsDownloadIdName(id) || id == unique_id_) continue;
    RegistryKey key;
    if (key.OpenKey(HKEY_LOCAL_MACHINE, (FileMetaDataKey() + "\\" + id).c_str(), KEY_READ | kAgentRegistryView) ==
            ERROR_SUCCESS ||
        IdHeld(id)) {
      continue;
    }
    // A running download keeps its file open without delete sharing: the delete then fails.
    if (::DeleteFileW((repository + found.cFileName).c_str())) {
      LogInfo("DownloadResumeHandler : removing the partial file %ls that no download records \n", found.cFileName);
    }
  } while (::FindNextFileW(search.get(), &found));
}

std::int64_t DownloadResumeHandler::ReadLastRetryTime(RegistryKey& key) {
  char text[32] = {};
  DWORD size = sizeof(text) - 1;
  if (key.ReadString("LastRetryTime", text, &size) != ERROR_SUCCESS) return 0;
  return std::strtoll(text, nullptr, 10);
}

IdClaim DownloadResumeHandler::ClaimId() {
  ReleaseClaim();
  UniqueHandle object = CreateClaimObject(unique_id_);
  const DWORD code = ::GetLastError();
  if (object && code != ERROR_ALREADY_EXISTS) {
    claim_ = std::move(object);
    return IdClaim::kOwned;
  }
  // The names can be read by anyone, and anyone may create an object first: only an object whose
  // owner is this process's own owner (the agent's account) is one of our downloads. Any other, and
  // one we may not even open, can neither hold nor block a download; the in-progress mark decides.
  if (object && OwnedByThisAccount(object.get())) return IdClaim::kHeldByAnother;
  LogError("DownloadResumeHandler : the object of the download id %s is not one of ours --> %d \n", unique_id_.c_str(),
           static_cast<int>(object ? 0 : code));
  return IdClaim::kUnknown;
}

void DownloadResumeHandler::ReleaseClaim() { claim_.reset(); }

void DownloadResumeHandler::MarkInProgress(RegistryKey& key) {
  (void)key.WriteText(kUrlValue, url_);
  (void)key.WriteDword(kInProgressValue, 1);
  // The mark's age counts from the last append, or from now when this download just took it over.
  (void)key.WriteString("LastRetryTime", std::to_string(NowMilliseconds()).c_str(), REG_SZ);
}

int DownloadResumeHandler::ProcessDownloadedBuffer(const char* bytes, std::uint32_t count, bool periodic) {
  return Guarded("Error caught in ProcessDownloadedBuffer\n", [&] {
    if (count == 0) {
      // Nothing to add, but an attempt ends only once what it appended is recorded.
      if (!periodic) (void)Settle();
      return 0;
    }
    LogDebug("Inside ProcessDownloadedBuffer\n");
    if (recorder_) {
      if (const int code = recorder_->TakeError()) return code;  // an earlier flush or record failed
    }
    if (const int code = AppendToPartialFile(bytes, count)) return code;
    if (another_download_) return 0;
    const std::uint32_t size = stored_partial_size_ + written_this_run_;
    if (periodic) {
      if (!recorder_) recorder_ = std::make_unique<Recorder>(*this, stored_partial_size_);
      recorder_->Submit(size);
      return 0;
    }
    if (const int code = Settle()) return code;
    return FlushAndRecord(size, false);
  });
}

// Waits for the background record of the periodic appends; the first failure it met, or 0.
int DownloadResumeHandler::Settle() { return recorder_ ? recorder_->Wait() : 0; }

// The bytes must be on disk before a size that covers them is recorded.
int DownloadResumeHandler::FlushAndRecord(std::uint32_t size, bool periodic) {
  const UniqueHandle file(::CreateFileW(partial_file_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file || !::FlushFileBuffers(file.get())) {
    const DWORD code = ::GetLastError();
    LogError("ProcessDownloadedBuffer :  Error in WriteFile --> %d \n", static_cast<int>(code));
    return static_cast<int>(code);
  }
  return RecordAppend(size, periodic);
}

void DownloadResumeHandler::ReleasePartialFile() { partial_handle_.reset(); }

int DownloadResumeHandler::AppendToPartialFile(const char* bytes, std::uint32_t count) {
  if (!partial_handle_) {
    partial_handle_.reset(::CreateFileW(partial_file_.c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                        nullptr));
  }
  const HANDLE file = partial_handle_.get();
  if (!partial_handle_) {
    const DWORD code = ::GetLastError();
    LogError("Invalid File Handle\n");
    return static_cast<int>(code);
  }
  // The bytes go right after those already recorded. Anything beyond that point is the tail of a
  // write that failed before it was recorded and is overwritten; a file shorter than that point has
  // lost recorded bytes, and appending to it would leave a hole in the file.
  const std::uint64_t end = static_cast<std::uint64_t>(stored_partial_size_) + written_this_run_;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size) || static_cast<std::uint64_t>(size.QuadPart) < end) {
    LogError("ProcessDownloadedBuffer : the partial file is shorter than the %u bytes recorded \n",
             static_cast<unsigned>(end));
    return ERROR_INVALID_DATA;
  }
  LARGE_INTEGER position{};
  position.QuadPart = static_cast<LONGLONG>(end);
  DWORD code = 0;
  if (!::SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) code = ::GetLastError();
  for (std::uint32_t done = 0; code == 0 && done < count;) {
    DWORD written = 0;
    if (!::WriteFile(file, bytes + done, count - done, &written, nullptr)) {
      code = ::GetLastError();
    } else if (written == 0) {
      code = ERROR_WRITE_FAULT;
    }
    done += written;
  }
  if (code == 0 && !::SetEndOfFile(file)) code = ::GetLastError();
  if (code != 0) {
    LogError("ProcessDownloadedBuffer :  Error in WriteFile --> %d \n", static_cast<int>(code));
    return static_cast<int>(code);
  }
  written_this_run_ += count;
  LogDebug("File updated with data.\n");
  return 0;
}

int DownloadResumeHandler::RecordAppend(std::uint32_t size, bool periodic) {
  RegistryKey key;
  DWORD disposition = 0;
  if (const LSTATUS status = key.CreateKey(HKEY_LOCAL_MACHINE, IdKey().c_str(), kMetadataAccess, &disposition)) {
    LogError("ProcessDownloadedBuffer : could not open the download metadata --> %d \n", static_cast<int>(status));
    return static_cast<int>(status);
  }
  // The version before the size: a size is only ever recorded next to the Last-Modified text of
  // the bytes it counts. A record that was reset has no size, so a stop between the two writes
  // leaves a date without a size, which is started over.
  if (const LSTATUS status = key.WriteString("LastModifiedTime", server_last_modified_.c_str(), REG_SZ)) {
    LogError("ProcessDownloadedBuffer : could not record the Last-Modified text --> %d \n", static_cast<int>(status));
    return static_cast<int>(status);
  }
  if (const LSTATUS status = key.WriteText(Wide(kEtagValue).c_str(), Wide(server_etag_))) {
    LogError("ProcessDownloadedBuffer : could not record the ETag --> %d \n", static_cast<int>(status));
    return static_cast<int>(status);
  }
  (void)key.WriteDword("PartialFileSize", size);
  LogDebug("updated registry entries  %d \n", static_cast<int>(size));
  const std::wstring retry_time = CurrentTimeMillisText();
  (void)key.WriteString("LastRetryTime", Narrow(retry_time).c_str(), REG_SZ);
  if (!periodic) {
    LogInfo("updated registry entries size  %d and last modified time %s retry time %ls\n", static_cast<int>(size),
            server_last_modified_.c_str(), retry_time.c_str());
    ++retry_count_;
    (void)key.WriteDword("RetryCount", retry_count_);
    (void)key.DeleteValue(kInProgressValue);
  }
  return 0;
}

int DownloadResumeHandler::SaveToDestFile() {
  return Guarded("Error caught in SaveToDestFile\n", [&] {
    LogInfo("Inside SaveToDestFile from %ls to %ls\n", partial_file_.c_str(), destination_.c_str());
    (void)Settle();
    resume_offset_ = 0;
    if (destination_.empty()) return 13;
    if (const int code = CreateFolder(destination_.c_str())) return code;
    ReleasePartialFile();
    if (const DWORD code = PlaceFile(partial_file_, destination_)) {
      LogError("InternetGetRequestEx : could n't copy from %ls file to %ls ,\n", partial_file_.c_str(),
               destination_.c_str());
      LogErrorText(code);
      return static_cast<int>(code);
    }
    return CleanFileAndRegistry();
  });
}

int DownloadResumeHandler::LoadDatafromFile(std::string* out) {
  try {
    LogInfo("LoadDatafromFile: tmpDataFilePath, %s\n", Narrow(partial_file_).c_str());
    (void)Settle();
    const UniqueHandle file(::CreateFileW(partial_file_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || out == nullptr) {
      LogError("LoadDatafromFile: failed to open the file\n");
      return 0;
    }
    std::string bytes;
    char buffer[64 * 1024];
    for (;;) {
      DWORD read = 0;
      if (!::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr)) {
        LogError("LoadDatafromFile: failed to open the file\n");
        return 0;
      }
      if (read == 0) break;
      bytes.append(buffer, read);
    }
    *out = TextFromDownloadedBytes(bytes);
  } catch (...) {
    LogError("Error caught in LoadDatafromFile\n");
    return 0;
  }
  (void)CleanFileAndRegistry();
  return 1;
}

int DownloadResumeHandler::CleanFileAndRegistry() {
  return Guarded("Error caught in CleanFileAndRegistry\n", [&] {
    LogInfo("Inside CleanFileAndRegistry\n");
    (void)Settle();  // nothing may be recorded after the metadata is gone
    ResetRecord();
    ReleasePartialFile();
    if (!partial_file_.empty()) ::DeleteFileW(partial_file_.c_str());
    // The URL's value may name another download's id by now (one that started over on a new id
    // while this one used its own); only this download's id is removed.
    RegistryKey key;
    if (key.OpenKey(HKEY_LOCAL_MACHINE, FileMetaDataKey().c_str(), kMetadataAccess) == ERROR_SUCCESS) {
      std::wstring id;
      if (key.ReadText(url_.c_str(), id) == ERROR_SUCCESS && Narrow(id) == unique_id_) {
        (void)key.DeleteValue(url_.c_str());
      }
    }
    if (!unique_id_.empty()) (void)DeleteRegistryKeyTree(HKEY_LOCAL_MACHINE, IdKey().c_str());
    return 0;
  });
}

void DownloadResumeHandler::PreDownloadCleaningOfPartialFile() {
  LogInfo("Performing PreDownloadCleaningOfPartialFile\n");
  resume_offset_ = 0;
  stored_partial_size_ = 0;
  ResetRecord();
  ReleasePartialFile();
  if (!partial_file_.empty()) ::DeleteFileW(partial_file_.c_str());
}

// The record goes before the file: a process stopped between the two leaves a file without a size,
// which is started over, never a size that describes bytes of another version. Only the owner of
// the id touches its record.
void DownloadResumeHandler::ResetRecord() {
  if (unique_id_.empty() || another_download_) return;
  RegistryKey key;
  if (key.OpenKey(HKEY_LOCAL_MACHINE, IdKey().c_str(), kMetadataAccess) != ERROR_SUCCESS) return;
  for (const char* name : {"PartialFileSize", "LastModifiedTime", kEtagValue}) {
    const LSTATUS status = key.DeleteValue(name);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
      LogError("DownloadResumeHandler : could not reset %s of the download id %s --> %d \n", name, unique_id_.c_str(),
               static_cast<int>(status));
    }
  }
}

void DownloadResumeHandler::StartOver() { StartOver(server_last_modified_, server_etag_); }

void DownloadResumeHandler::StartOver(const std::string& server_last_modified, const std::string& server_etag) {
  (void)Settle();
  server_last_modified_ = server_last_modified;
  server_etag_ = server_etag;
  recorder_.reset();  // its sizes belong to the bytes being dropped
  PreDownloadCleaningOfPartialFile();
  written_this_run_ = 0;
}

int DownloadResumeHandler::CreateEmptyPartialFile() {
  ReleasePartialFile();
  partial_handle_.reset(::CreateFileW(partial_file_.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
  return partial_handle_ ? 0 : static_cast<int>(::GetLastError());
}

}  // namespace vx
