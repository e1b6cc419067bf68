#include "transport/file_download_win.h"

// clang-format off
#include <windows.h>
#include <ntsecapi.h>  // RtlGenRandom (advapi32)
// clang-format on

#include <algorithm>
#include <cwchar>
#include <new>
#include <optional>
#include <vector>

#include "agent/agent_config.h"
#include "agent/file_utils.h"
#include "base/time_source.h"
#include "base/unique_handle_win.h"
#include "logging/logger.h"
#include "platform/registry.h"
#include "platform/text_conversion.h"
#include "transport/block_download_win.h"
#include "transport/request_setup_win.h"
#include "transport/resumable_download_win.h"
#include "transport/transfer_rules.h"
#include "transport/transport_error_texts.h"
#include "transport/winhttp_api_win.h"

namespace vx {
namespace {

constexpr DWORD kContentLengthQuery = WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER;
constexpr std::uint32_t kBlockBytesPerKBps = 500;
// Bytes gathered before the temporary file is written.
constexpr std::size_t kWriteBlock = 1024 * 1024;

// The "DownloadMode" setting: 1 asks for downloads that resume across runs. Files that are always
// downloaded whole (".xml", ".json") do not ask and count as 0.
DWORD DownloadMode(const ConnectionParameters& parameters, const wchar_t* object_path) {
  if (AlwaysWholeDownload(object_path)) return 0;
  LogInfo("InternetGetDownloader : Quorvant Server & Port -> %ls : %d \n", parameters.server.c_str(), parameters.port);
  DWORD mode = 0;
  const std::string settings_key = std::string(kAgentRootKey) + "\\Settings";
  if (ReadDwordRegistryData(HKEY_LOCAL_MACHINE, settings_key.c_str(), "DownloadMode", &mode) != ERROR_SUCCESS) {
    mode = 0;
  }
  return mode;
}

// The line that tells the whole download goes on.
void LogDownloadMode(const wchar_t* object_path, DWORD mode) {
  if (!AlwaysWholeDownload(object_path)) LogInfo("InternetGetDownloader : Download Mode %d\n", static_cast<int>(mode));
}

// A name nobody can predict: 128 random bits in hexadecimal. Empty when the system has no random
// bytes to give.
std::string RandomName() {
  unsigned char bytes[16] = {};
  if (!RtlGenRandom(bytes, sizeof(bytes))) return std::string();
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string name;
  for (const unsigned char byte : bytes) {
    name += kDigits[byte >> 4];
    name += kDigits[byte & 0x0F];
  }
  return name;
}

// The temporary file of one download: next to the destination for DOWNLOAD_FILE, in the TEMP
// directory for GET_DATA. Deleted when the object ends, whatever happened.
//
// TEMP may be shared with other users, so the GET_DATA file gets a random name, is created only if
// no file of that name exists, is shared with nobody, is read back through the handle that wrote it
// and is deleted by the system when that handle closes (also when the process is killed).
class TemporaryDownloadFile {
 public:
  TemporaryDownloadFile(int request_type, const wchar_t* destination) : in_memory_(request_type == GET_DATA) {
    if (request_type == DOWNLOAD_FILE && destination != nullptr) {
      name_ = std::wstring(destination) + std::to_wstring(CurrentThreadId()) + L".tmp";
    }
  }
  ~TemporaryDownloadFile() { Delete(); }
  TemporaryDownloadFile(const TemporaryDownloadFile&) = delete;
  TemporaryDownloadFile& operator=(const TemporaryDownloadFile&) = delete;

  const std::wstring& Name() const { return name_; }

  // Creates the file empty: DOWNLOAD_FILE's replacing one of that name, shared for reading;
  // GET_DATA's as a new file of a new random name. 0 or the error.
  DWORD Create() {
    if (!in_memory_) {
      handle_.reset(::CreateFileW(name_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
      return handle_ ? 0 : ::GetLastError();
    }
    constexpr int kNameAttempts = 4;
    DWORD code = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < kNameAttempts && code == ERROR_FILE_EXISTS; ++attempt) {
      const std::string random = RandomName();
      if (random.empty()) return ERROR_GEN_FAILURE;
      // NOLINTNEXTLINE(performance-inefficient-string-concatenation): four attempts at most.
      name_8bit_ = gv_tempDir + "\\vx" + random + ".tmp";
      if (!ChangeToWideStr(name_8bit_.c_str(), name_)) return ERROR_INVALID_NAME;
      handle_.reset(::CreateFileW(name_.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
      code = handle_ ? 0 : ::GetLastError();
    }
    if (code != 0) name_.clear();  // nothing of ours to delete
    return code;
  }

  // Network reads come in pieces of a few KiB; they are gathered and written in large blocks. A
  // piece read into Window is in place already.
  DWORD Append(const char* data, DWORD size) {
    if (data != pending_.data() + pending_size_) {
      if (pending_.size() < pending_size_ + size) pending_.resize(pending_size_ + size);
      std::copy(data, data + size, pending_.data() + pending_size_);
    }
    pending_size_ += size;
    return pending_size_ >= kWriteBlock ? Flush() : 0;
  }

  // Room for the next count bytes after those gathered, so that the network reads go straight into
  // the block; null when it cannot be had (the reader then uses a buffer of its own).
  char* Window(DWORD count) {
    try {
      if (pending_.size() < pending_size_ + count) pending_.resize(pending_size_ + count);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    return pending_.data() + pending_size_;
  }

  // Writes what Append gathered. 0 or the error of the write.
  DWORD Flush() {
    const char* data = pending_.data();
    std::size_t size = pending_size_;
    while (size > 0) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, kWriteBlock));
      if (!::WriteFile(handle_.get(), data, chunk, &written, nullptr)) return ::GetLastError();
      if (written == 0) return ERROR_WRITE_FAULT;
      data += written;
      size -= written;
    }
    pending_size_ = 0;
    return 0;
  }

  // Drops what was written so far: a body that is the whole file again replaces it.
  DWORD Truncate() {
    pending_size_ = 0;
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(handle_.get(), start, nullptr, FILE_BEGIN) || !::SetEndOfFile(handle_.get())) {
      return ::GetLastError();
    }
    return 0;
  }

  // The size of the file, after a Flush.
  std::uint64_t Size() const {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(handle_.get(), &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
  }

  // Writes what is pending; DOWNLOAD_FILE's file is closed for the move onto the destination,
  // GET_DATA's stays open to be read back. The file lives only until the hand-over, so it is not
  // forced to disk. 0 or the error of the last write.
  DWORD FlushAndClose() {
    const DWORD code = handle_ ? Flush() : 0;
    pending_ = std::vector<char>();
    pending_size_ = 0;
    if (!in_memory_) handle_.reset();
    return code;
  }

  // The GET_DATA content as text, read from the start through the handle that wrote it, or nothing
  // when it cannot be read.
  std::optional<std::string> ReadBack() const {
    LogDebug("LoadDatafromFile: tmpDataFilePath, %s\n", name_8bit_.c_str());
    const HANDLE file = handle_.get();
    LARGE_INTEGER start{};
    if (!handle_ || !::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return std::nullopt;
    // A large answer may not fit a 32-bit process's memory: that is a read-back that failed.
    try {
      std::string bytes;
      char buffer[64 * 1024];
      for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file, buffer, sizeof(buffer), &read, nullptr)) return std::nullopt;
        if (read == 0) break;
        bytes.append(buffer, read);
      }
      return TextFromDownloadedBytes(bytes);
    } catch (const std::bad_alloc&) {
      LogError("LoadDatafromFile: the data does not fit in memory\n");
      return std::nullopt;
    }
  }

  // GET_DATA's file goes with its handle; deleting it by name afterwards could only hit a file of
  // someone else's.
  void Delete() {
    handle_.reset();
    if (!in_memory_ && !name_.empty()) ::DeleteFileW(name_.c_str());
  }

 private:
  bool in_memory_;
  std::wstring name_;
  std::string name_8bit_;
  UniqueHandle handle_;
  std::vector<char> pending_;  // the block being gathered: its first pending_size_ bytes
  std::size_t pending_size_ = 0;
};

// Names and creates the temporary file; for DOWNLOAD_FILE the destination's directory first.
// 0 or the error, logged with the operation's own messages.
DWORD CreateTemporaryFile(TemporaryDownloadFile& temporary, int request_type, const wchar_t* destination,
                          const char* directory_message, const char* create_message) {
  if (request_type == DOWNLOAD_FILE && CreateFolder(destination) != 0) LogError(directory_message, destination);
  const DWORD code = temporary.Create();
  if (code != 0) {
    LogError(create_message, static_cast<int>(code));
    HttpGetLastError(code);
  }
  return code;
}

// GET_DATA's hand-over: the temporary file's text into out. 0, or 6 when it cannot be read.
int ReadBackInto(const TemporaryDownloadFile& temporary, const char* operation, std::string* out) {
  std::optional<std::string> text = temporary.ReadBack();
  if (!text) {
    LogError("%s: could n't read the data from .tmp file \n", operation);
    return kReadBackFailed;
  }
  LogDebug("Data in memory : %s\n", text->c_str());
  *out = std::move(*text);
  return 0;
}

// DOWNLOAD_FILE's hand-over. The temporary file lies beside the destination: moving it there
// replaces the destination in one step, never leaving it half written, and costs no second copy of
// the data. 0 or the Windows error.
DWORD PutInPlace(const TemporaryDownloadFile& temporary, const wchar_t* destination) {
  return ::MoveFileExW(temporary.Name().c_str(), destination, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)
             ? 0
             : ::GetLastError();
}

// A download needs somewhere to put its result.
bool HasTarget(const char* operation, int request_type, const wchar_t* destination, const std::string* out) {
  if ((request_type == DOWNLOAD_FILE && destination == nullptr) || (request_type == GET_DATA && out == nullptr)) {
    LogError("%s : No destination given for the downloaded data \n", operation);
    return false;
  }
  return true;
}

// Whether the gzip-accepting response came compressed, with its log lines.
bool ResponseIsGzip(HINTERNET request) {
  std::wstring encoding;
  const DWORD code = QueryTextHeader(request, WINHTTP_QUERY_CUSTOM, L"Content-Encoding", encoding);
  if (code == ERROR_WINHTTP_HEADER_NOT_FOUND) {
    LogError("InternetGetRequestEx : Response Header doesn't contain content-Encoding. \n");
    return false;
  }
  if (code != 0) {
    LogError("InternetGetRequestEx :  Error in WinHttpQueryHeaders --> %d \n", static_cast<int>(code));
    HttpGetLastError(code);
    return false;
  }
  LogDebug("InternetGetRequestEx :  Response Header Informations : %ls \n", encoding.c_str());
  if (encoding.find(L"gzip") != std::wstring::npos) {
    LogInfo("InternetGetRequestEx : Response Header contains content-Encoding as gzip \n");
    return true;
  }
  LogInfo("InternetGetRequestEx : Response Header doesn't contain content-Encoding as gzip \n");
  return false;
}

// A plain GET, or a HEAD for head true, that learns the version the server has now: 0 with its
// length and Last-Modified text in version (a GET's handles stay open for its body), else the
// result that ends the download, the handles closed.
int OpenWholeFile(const ConnectionParameters& parameters, const wchar_t* object_path, int request_type,
                  unsigned char keep_alive, RequestHandles& handles, FileVersion& version, const char* operation,
                  bool head = false) {
  CloseRequestHandles(handles);
  handles = RequestHandles{};
  handles.kind = head ? kHead : kPlainGet;
  int result = GetInternetRequestHandle(parameters, object_path, request_type, keep_alive, handles, 0);
  DWORD length = 0;
  if (result == 0 && handles.status != HTTP_STATUS_OK) {
    LogError("%s : Failed with the http status code, %d \n", operation, static_cast<int>(handles.status));
    result = static_cast<int>(handles.status);
  } else if (result == 0) {
    result = static_cast<int>(QueryNumberHeader(handles.request.get(), kContentLengthQuery, length));
  }
  if (result != 0) {
    CloseRequestHandles(handles);
    return result;
  }
  // The new answer's own validators, or none: never the old version's.
  version = ResponseVersion(handles.request.get(), length, operation);
  LogInfo("%s : The server's file now has %u bytes, modified %s, ETag %s \n", operation, static_cast<unsigned>(length),
          version.last_modified.c_str(), version.etag.c_str());
  return 0;
}

// The ranges of a download through a temporary file, whole (its recovery after a time-out) or rate
// limited (its blocks): the bytes go to the temporary file, a time-out is the broken connection that
// asks for the rest once more, and the lines are the operation's own.
class TemporaryFileRanges final : public RangedDownload {
 public:
  TemporaryFileRanges(const ConnectionParameters& parameters, const wchar_t* object_path, int request_type,
                      FileVersion version, TemporaryDownloadFile& temporary, bool rate_limited,
                      unsigned char keep_alive = 1)
      : RangedDownload(parameters, object_path, request_type,
                       rate_limited ? "InternetGetRequestByBitrate" : "InternetGetRequestEx"),
        rate_limited_(rate_limited),
        keep_alive_(keep_alive),
        version_(std::move(version)),
        temporary_(temporary) {}

  std::uint32_t Received() const override { return bytes_so_far_; }
  FileVersion Version() const override { return version_; }

  int DropReceived() override {
    LogInfo("%s : The server sent the whole file again; starting over \n", Operation());
    return Restart();
  }

  // The version the server has now is fetched whole from its first byte, once: the rate-limited
  // download learns it with a HEAD and fetches its blocks, the whole download reads its GET.
  int StartOverWithNewVersion(RequestHandles& handles, std::uint64_t& body_length) override {
    if (started_over_) {
      LogError("%s : The server's file changed again; giving up \n", Operation());
      return kServerFileChanged;
    }
    started_over_ = true;
    if (const int result = OpenWholeFile(Parameters(), Url(), RequestType(), rate_limited_ ? 1 : keep_alive_, handles,
                                         version_, Operation(), rate_limited_)) {
      return result;
    }
    if (rate_limited_) CloseRequestHandles(handles);
    body_length = version_.length;
    return Restart();
  }

  BodyOutcome ReadBody(HINTERNET request, std::uint64_t announced) override {
    const BodyLines lines = rate_limited_ ? BodyLines{Operation(), nullptr,
                                                      "InternetGetRequestByBitrate: Bytes Available to read now: %u\n"}
                                          : BodyLines{Operation(), "Bytes read reached the contenlength\n", nullptr};
    const BodyOutcome outcome = ReadAnnouncedBody(
        request, announced, [this](const char* bytes, DWORD count) { return temporary_.Append(bytes, count); },
        lines, [this](DWORD count) { return temporary_.Window(count); });
    bytes_so_far_ += static_cast<std::uint32_t>(outcome.kept);
    return outcome;
  }

  bool BrokenConnection(DWORD code) const override { return code == ERROR_WINHTTP_TIMEOUT; }

  void LogFailedStatus(DWORD status) const override {
    if (rate_limited_) {
      LogError("InternetGetRequestByBitrate : Failed with the http status code %d \n", static_cast<int>(status));
    } else {
      LogError("InternetGetRequestEx : Failed with the http status code, %d \n", static_cast<int>(status));
    }
  }
  void LogRangeAnswered(int result) const override {
    if (rate_limited_) {
      LogDebug("InternetGetRequestByBitrate: GetInternetRequestHandle function return code: %u\n",
               static_cast<unsigned>(result));
    }
  }
  void LogBlockRead() const override {
    LogDebug("InternetGetRequestByBitrate: Bytes Read: %d\n", static_cast<int>(bytes_so_far_));
  }

 private:
  // Drops what was written: the download continues from byte 0.
  int Restart() {
    if (const DWORD code = temporary_.Truncate()) return static_cast<int>(code);
    bytes_so_far_ = 0;
    return 0;
  }

  bool rate_limited_;
  unsigned char keep_alive_;
  FileVersion version_;
  TemporaryDownloadFile& temporary_;
  std::uint32_t bytes_so_far_ = 0;
  bool started_over_ = false;  // a call starts over from byte 0 at most once
};

// The whole download's body: read what the response has into the temporary file, recovering from
// a time-out with a validated range for the rest (once per time-out: failing again before any data
// ends it). The result of the transfer.
int ReceiveWholeBody(const ConnectionParameters& parameters, const wchar_t* object_path, int request_type,
                     unsigned char keep_alive, RequestHandles& handles, FileVersion version,
                     TemporaryDownloadFile& temporary) {
  TemporaryFileRanges ranges(parameters, object_path, request_type, std::move(version), temporary, false, keep_alive);
  std::uint64_t announced = ranges.Version().length;
  int result = 0;
  bool just_recovered = false;
  while (handles.request.valid()) {
    const BodyOutcome outcome = ranges.ReadBody(handles.request.get(), announced);
    result = static_cast<int>(outcome.code);
    if (outcome.end != BodyEnd::kAvailabilityFailed || !ranges.BrokenConnection(outcome.code)) break;
    if (just_recovered && outcome.answered_queries == 0) break;
    LogInfo("Total Bytes read so far:%u\n", static_cast<unsigned>(ranges.Received()));
    LogInfo("InternetGetRequestEx : second attempt to recover from previous error\n");
    CloseRequestHandles(handles);
    if ((result = OpenRestOfFile(ranges, handles, keep_alive, announced)) != 0) break;
    just_recovered = true;
  }
  const std::uint32_t bytes_so_far = ranges.Received();
  const FileVersion received_version = ranges.Version();

  LogInfo("InternetGetRequestEx : Total bytes read = %u\n", bytes_so_far);
  if (result == 0) {
    if (const DWORD code = temporary.Flush()) {
      LogError("InternetGetRequestEx :  Error in WriteFile --> %d \n", static_cast<int>(code));
      HttpGetLastError(code);
      return static_cast<int>(code);
    }
    const std::uint64_t size = temporary.Size();
    if (size == received_version.length) {
      LogInfo("InternetGetRequestEx : GetFileSize returns :  %u\n", static_cast<unsigned>(size));
      LogInfo("InternetGetRequestEx : File completely downloaded..!\n");
    } else {
      LogInfo("InternetGetRequestEx : Error in downloading..!\n");
      LogInfo("InternetGetRequestEx : Only partial file downloaded. GetFileSize returns :  %u\n",
              static_cast<unsigned>(size));
      result = kLengthMismatch;
    }
  }
  return result;
}

// The rate-limited download's probe: a HEAD that learns the length and the validators of the
// server's file into version. 0, kNotModified, the failed status, or the error of the request or of
// its Content-Length (whose absence fails the download). The handles are closed after a success.
int ProbeFileVersion(const ConnectionParameters& parameters, const wchar_t* object_path, int request_type,
                     RequestHandles& handles, FileVersion& version) {
  // Every request of this download keeps its connection alive.
  handles.kind = kHead;
  const int result = GetInternetRequestHandle(parameters, object_path, request_type, 1, handles, 0);
  if (result != 0) return result;
  if (handles.status == HTTP_STATUS_NOT_MODIFIED) {
    LogInfo("InternetGetRequestByBitrate : File not modified since the time: %ls\n", object_path);
    return kNotModified;
  }
  if (handles.status != HTTP_STATUS_OK) {
    LogError("InternetGetRequestByBitrate : Failed with the http status code: %d \n", static_cast<int>(handles.status));
    return static_cast<int>(handles.status);
  }
  DWORD content_length = 0;
  const DWORD code = QueryNumberHeader(handles.request.get(), kContentLengthQuery, content_length);
  if (code != 0 && code != ERROR_INSUFFICIENT_BUFFER) {
    LogError("InternetGetRequestByBitrate :  Error in Content Length Header -> %d \n", static_cast<int>(code));
    HttpGetLastError(code);
    return static_cast<int>(code);
  }
  if (code != 0) content_length = 0;
  LogInfo("InternetGetRequestByBitrate : Content Length of the request file: %u Bytes\n",
          static_cast<unsigned>(content_length));
  version = ResponseVersion(handles.request.get(), content_length, "InternetGetRequestByBitrate");
  CloseRequestHandles(handles);
  return 0;
}

}  // namespace

int InternetGetRequestEx(const ConnectionParameters& parameters, const wchar_t* object_path, const wchar_t* destination,
                         std::string* out, int request_type, unsigned char keep_alive, unsigned char accept_gzip) {
  const DWORD mode = DownloadMode(parameters, object_path);
  if (mode == 1 && request_type == DOWNLOAD_FILE) {
    return ResumeGetRequestEx(parameters, object_path, destination, out, request_type, keep_alive);
  }
  LogDownloadMode(object_path, mode);
  LogDebug("@@@@@@@@ Inside InternetGetRequestEx Method @@@@@@@@ \n");
  LogInfo("InternetGetRequestEx : Quorvant Server & Port -> %ls : %d \n", parameters.server.c_str(), parameters.port);
  LogDebug("InternetGetRequestEx : URL to Get -> %ls \n", object_path);
  if (!HasTarget("InternetGetRequestEx", request_type, destination, out)) return kMissingInput;

  RequestHandles handles;
  handles.kind = kPlainGet;
  int result = GetInternetRequestHandle(parameters, object_path, request_type, keep_alive, handles, accept_gzip);
  const bool compressed = accept_gzip != 0 && handles.request.valid() && ResponseIsGzip(handles.request.get());

  TemporaryDownloadFile temporary(request_type, destination);
  if (result == 0) {
    if (handles.status == HTTP_STATUS_NOT_MODIFIED) {
      LogInfo("InternetGetRequestEx :File not modified since the time: %ls\n", object_path);
      result = kNotModified;
    } else if (handles.status != HTTP_STATUS_OK) {
      LogError("InternetGetRequestEx : Failed with the http status code, %d \n", static_cast<int>(handles.status));
      result = static_cast<int>(handles.status);
    } else {
      DWORD content_length = 0;
      const DWORD code = QueryNumberHeader(handles.request.get(), kContentLengthQuery, content_length);
      if (code == 0 || code == ERROR_INSUFFICIENT_BUFFER || code == ERROR_WINHTTP_HEADER_NOT_FOUND) {
        if (code != 0) content_length = 0;
        LogInfo("InternetGetRequestEx : Content Length of the request file: %u Bytes\n",
                static_cast<unsigned>(content_length));
        result = static_cast<int>(CreateTemporaryFile(
            temporary, request_type, destination,
            "InternetGetRequestEx : Failed to create the destination directory for the destination file %ls \n",
            "InternetGetRequestEx : Error occured while creating the file --> %d \n"));
        if (result == 0) {
          result = ReceiveWholeBody(parameters, object_path, request_type, keep_alive, handles,
                                    ResponseVersion(handles.request.get(), content_length, "InternetGetRequestEx"),
                                    temporary);
        }
        if (const DWORD code = temporary.FlushAndClose(); code != 0 && result == 0) result = static_cast<int>(code);
      } else {
        LogError("InternetGetRequestEx :  Error in Content Length Header -> %d \n", static_cast<int>(code));
        HttpGetLastError(code);
        result = static_cast<int>(code);
      }
    }
  }

  CloseRequestHandles(handles, "InternetGetRequestEx");

  if (result == 0) {
    if (accept_gzip == 1 && compressed) {
      // The body is kept exactly as received: there is no decompressor in this build.
      LogInfo("InternetGetRequestEx : Successfully downloaded the Gzip compressed file from the server %ls \n",
              parameters.server.c_str());
      LogDebug("InternetGetRequestEx : Need to decompress the file\n");
      LogError("Zlib dependency removed. DecompressGZipFile() disabled.\n");
    }
    if (request_type == GET_DATA) {
      result = ReadBackInto(temporary, "InternetGetRequestEx", out);
    } else if (const DWORD code = PutInPlace(temporary, destination)) {
      LogError("InternetGetRequestEx : could n't copy from %ls file to %ls ,\n", temporary.Name().c_str(), destination);
      LogErrorText(code);
      result = static_cast<int>(code);
    } else {
      LogInfo(
          "InternetGetRequestEx : Successfully downloaded the file %ls from the server %ls to the destination file "
          "%ls \n",
          object_path, parameters.server.c_str(), destination);
    }
  }
  temporary.Delete();
  LogDebug("@@@@@@@@ End Of InternetGetRequestEx Method @@@@@@@@ \n");
  return result;
}

int InternetGetRequestByBitrate(const ConnectionParameters& parameters, const wchar_t* object_path,
                                const wchar_t* destination, std::string* out, int request_type,
                                unsigned char keep_alive) {
  const DWORD mode = DownloadMode(parameters, object_path);
  if (mode == 1) return ResumeGetRequestByBitrate(parameters, object_path, destination, out, request_type, keep_alive);
  LogDownloadMode(object_path, mode);
  LogDebug("@@@@@@@@ Inside InternetGetRequestByBitrate Method @@@@@@@@ \n");
  LogInfo("InternetGetRequestByBitrate : Quorvant Server & Port -> %ls : %d \n", parameters.server.c_str(),
          parameters.port);
  LogDebug("InternetGetRequestByBitrate : URL to Get -> %ls \n", object_path);
  if (!HasTarget("InternetGetRequestByBitrate", request_type, destination, out)) return kMissingInput;

  RequestHandles handles;
  FileVersion version;
  int result = ProbeFileVersion(parameters, object_path, request_type, handles, version);

  TemporaryDownloadFile temporary(request_type, destination);
  std::uint32_t bytes_so_far = 0;
  if (result == 0) {
    result = static_cast<int>(CreateTemporaryFile(
        temporary, request_type, destination,
        "InternetGetRequestByBitrate : Failed to create the destination directory for the destination file %ls \n",
        "InternetGetRequestByBitrate: Error occured while creating the file --> %d \n"));
  }
  if (result == 0) {
    const std::uint32_t block_size = static_cast<std::uint32_t>(gv_dataTransferRateKBps) * kBlockBytesPerKBps;
    LogDebug("InternetGetRequestByBitrate: Block of bytes to read: %u\n", block_size);
    TemporaryFileRanges blocks(parameters, object_path, request_type, version, temporary, true);
    result = DownloadInBlocks(blocks, handles, block_size);
    bytes_so_far = blocks.Received();
  }
  if (const DWORD code = temporary.FlushAndClose(); code != 0 && result == 0) {
    LogError("InternetGetRequestByBitrate :  Error in WriteFile --> %d \n", static_cast<int>(code));
    HttpGetLastError(code);
    result = static_cast<int>(code);
  }
  LogInfo("InternetGetRequestByBitrate: Total bytes read = %u\n", bytes_so_far);
  CloseRequestHandles(handles);

  if (result == 0) {
    if (request_type == GET_DATA) {
      result = ReadBackInto(temporary, "InternetGetRequestByBitrate", out);
    } else if (const DWORD code = PutInPlace(temporary, destination)) {
      LogError("InternetGetRequestByBitrate : could n't copy from .tmp file, errorcode --> %d \n",
               static_cast<int>(code));
      result = static_cast<int>(code);
    } else {
      LogInfo("InternetGetRequestByBitrate : Successfully downloaded the file %ls from the server %ls\n", object_path,
              parameters.server.c_str());
    }
  }
  temporary.Delete();
  LogDebug("@@@@@@@@ End Of InternetGetRequestByBitrate Method @@@@@@@@ \n");
  return result;
}

}  // namespace vx
