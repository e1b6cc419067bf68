#include "transport/resumable_download_win.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <cwchar>
#include <exception>
#include <new>
#include <vector>

#include "agent/agent_config.h"
#include "agent/file_utils.h"
#include "base/time_source.h"
#include "logging/logger.h"
#include "platform/registry.h"
#include "platform/text_conversion.h"
#include "transport/access_log.h"
#include "transport/block_download_win.h"
#include "transport/download_resume_handler_win.h"
#include "transport/request_setup_win.h"
#include "transport/transfer_rules.h"
#include "transport/transport_error_texts.h"
#include "transport/winhttp_api_win.h"

namespace vx {
namespace {

constexpr DWORD kContentLengthQuery = WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER;
constexpr std::uint32_t kBlockBytesPerKBps = 500;

// One resumable download, for the duration of the driver's call.
struct DownloadRequest {
  const ConnectionParameters* parameters = nullptr;
  unsigned char keep_alive = 0;
  int request_type = 0;
  const wchar_t* url = nullptr;
  std::wstring destination;
  const char* operation = "";  // the driver's name, which starts its log lines
  AccessLogRecord access_log;  // filled as the download goes
  std::string server_last_modified;
  std::string server_etag;
  DownloadResumeHandler handler;
  std::vector<char> buffer;    // the gathering buffer; its size is the capacity
  std::uint32_t gathered = 0;  // bytes in the buffer not yet appended to the partial file
  std::uint32_t content_length = 0;
  std::uint32_t received = 0;  // bytes received, counted from the start of the file
  bool started_over = false;   // a call starts over from byte 0 at most once
  bool too_long = false;       // an answer went on past its announced length
};

std::string Narrow(const wchar_t* text) {
  std::string narrow;
  if (text == nullptr || !ChangeWideToUtf8Str(text, narrow)) narrow.clear();
  return narrow;
}

bool BrokenConnection(DWORD code) {
  return code == ERROR_WINHTTP_TIMEOUT || code == ERROR_WINHTTP_CONNECTION_ERROR ||
         code == ERROR_WINHTTP_CANNOT_CONNECT;
}

// A download needs somewhere to put its result.
bool HasTarget(const char* operation, int request_type, const wchar_t* destination, const std::string* out) {
  if ((request_type == GET_DATA && out == nullptr) || (request_type != GET_DATA && destination == nullptr)) {
    LogError("%s : No destination given for the downloaded data \n", operation);
    return false;
  }
  return true;
}

void FillRequest(DownloadRequest& request, const ConnectionParameters& parameters, const wchar_t* url,
                 const wchar_t* destination, int request_type, unsigned char keep_alive, const char* operation) {
  request.parameters = &parameters;
  request.keep_alive = keep_alive;
  request.request_type = request_type;
  request.url = url;
  request.destination = destination != nullptr ? destination : L"";
  request.operation = operation;
  request.access_log.start_prefix = AccessLogPrefix();
  request.access_log.url = Narrow(url);
  request.access_log.server = Narrow(parameters.server.c_str());
  request.access_log.port = parameters.port;
  request.access_log.request_type = request_type;
}

// The first exchange: a GET whose status, Last-Modified text and Content-Length decide what follows.
// Its body is not read and its handles are always closed. 0, 90001, the HTTP status or an error.
int PreDownloadHandling(DownloadRequest& request) {
  RequestHandles handles;
  handles.kind = kPlainGet;
  int result = GetInternetRequestHandle(*request.parameters, request.url, request.request_type, request.keep_alive,
                                        handles, 0);
  if (result != 0) {
    LogError("PreDownloadHandling: ERROR in GetInternetRequestHandle - %d\n", result);
  } else if (handles.status == HTTP_STATUS_NOT_MODIFIED) {
    LogInfo("PreDownloadHandling :File not modified since the time: %ls\n", request.url);
    result = kNotModified;
  } else if (handles.status != HTTP_STATUS_OK) {
    LogError("PreDownloadHandling : Failed with the http status code, %d \n", static_cast<int>(handles.status));
    result = static_cast<int>(handles.status);
  } else {
    // This answer's own validators, or none: a start-over never keeps the old version's.
    request.server_last_modified.clear();
    std::wstring last_modified;
    if (GetFilelastmodifiedTime(handles.request.get(), last_modified) == 0) {
      request.server_last_modified = Narrow(last_modified.c_str());
    }
    request.server_etag = ResponseEtag(handles.request.get());
    if (!HasValidator(FileVersion{0, request.server_last_modified, request.server_etag})) {
      LogInfo(
          "PreDownloadHandling : The server sends neither ETag nor Last-Modified: a file replaced by another of the "
          "same length cannot be told apart \n");
    }
    // Without a length the download can be neither checked nor resumed (a file of 4 GiB or more
    // does not fit the count either), so it is refused rather than taken to be empty.
    DWORD content_length = 0;
    if (const DWORD code = QueryNumberHeader(handles.request.get(), kContentLengthQuery, content_length)) {
      LogError("PreDownloadHandling :  Error in Content Length Header -> %d \n", static_cast<int>(code));
      HttpGetLastError(code);
      result = static_cast<int>(code);
    } else {
      request.content_length = content_length;
      request.access_log.content_length = content_length;
      LogInfo("PreDownloadHandling : Content Length of the request file: %u Bytes\n",
              static_cast<unsigned>(content_length));
    }
  }
  CloseRequestHandles(handles);
  return result;
}

// The end of every download that got past its range request: hand the finished file over, then
// the access-log line with the result.
void PostDownloadHandling(DownloadRequest& request, RequestHandles* handles, int& result, std::string* out) {
  LogInfo("Proceeding for PostDownloadHandling \n");
  if (handles != nullptr) CloseRequestHandles(*handles);
  std::vector<char>().swap(request.buffer);
  if (result == 0) {
    if (request.request_type == GET_DATA) {
      if (request.handler.LoadDatafromFile(out) == 1) {
        LogInfo("PostDownloadHandling Data in memory : %s\n", out->c_str());
      } else {
        LogError("PostDownloadHandling : could n't read the data from .tmp file \n");
        result = kReadBackFailed;
      }
    } else if (const int code = request.handler.SaveToDestFile()) {
      LogInfo("PostDownloadHandling : failed\n");
      result = code;
    } else {
      LogInfo(
          "PostDownloadHandling : Successfully downloaded the file %ls from the server %ls to the destination file "
          "%ls \n",
          request.url, request.parameters->server.c_str(), request.destination.c_str());
    }
  }
  request.access_log.received = request.received;
  if (gv_installDir) PrintHTTPAccessLog(*gv_installDir, request.access_log, result);
}

// Steps shared by both drivers after the first exchange: the metadata, and where to start. 0 or 13.
int PrepareResume(DownloadRequest& request) {
  if (!gv_installDir || gv_installDir->empty()) {
    LogError("%s : The installation directory is not known; no place for the partial file \n", request.operation);
    return kMissingInput;
  }
  if (request.handler.Initialize(request.destination, request.server_last_modified, request.url ? request.url : L"",
                                 request.server_etag)) {
    return kMissingInput;
  }
  request.received = request.handler.StoredPartialSize();
  try {
    request.buffer.assign(request.handler.SaveLimit(), '\0');
  } catch (const std::bad_alloc&) {
    LogError("%s : No memory for a gathering buffer of %u bytes \n", request.operation,
             static_cast<unsigned>(request.handler.SaveLimit()));
    return kMissingInput;
  }
  if (request.received > request.content_length) {
    // The same Last-Modified text with a shorter file: no range of it starts at the recorded size,
    // so resuming would be refused every time.
    LogError("%s : The partial file holds %u bytes, more than the content length %u; starting over \n",
             request.operation, static_cast<unsigned>(request.received), static_cast<unsigned>(request.content_length));
    request.handler.StartOver();
    request.received = 0;
  }
  return 0;
}

// Nothing gathered or saved so far may be spliced with what comes next: the download continues
// from byte 0.
void StartOver(DownloadRequest& request) {
  request.handler.StartOver();
  request.gathered = 0;
  request.received = 0;
}

// Appends the gathered bytes; periodic false marks the attempt's final append.
int AppendGathered(DownloadRequest& request, bool periodic) {
  const int code = request.handler.ProcessDownloadedBuffer(request.buffer.data(), request.gathered, periodic);
  if (code == 0) request.gathered = 0;
  return code;
}

// Keeps a piece of the body: gathered in the buffer, which is appended to the partial file whenever
// the piece would not fit (a piece larger than the buffer grows it). 0 or the error of the append.
DWORD GatherPiece(DownloadRequest& request, const char* bytes, DWORD count) {
  if (count > request.buffer.size()) {
    LogInfo("Reallocating buffer to %d\n", static_cast<int>(count));
    try {
      request.buffer.resize(count);
    } catch (const std::exception&) {  // bad_alloc, or length_error past a 32-bit vector's size
      return ERROR_NOT_ENOUGH_MEMORY;
    }
    request.handler.SetSaveLimit(count);
  }
  if (request.gathered + count > request.buffer.size()) {
    if (const int code = AppendGathered(request, true)) return static_cast<DWORD>(code);
  }
  std::copy(bytes, bytes + count, request.buffer.data() + request.gathered);
  request.gathered += count;
  request.received += count;
  return 0;
}

// Reads what the response has, at most announced bytes, into the gathering buffer.
BodyOutcome GatherBody(DownloadRequest& request, HINTERNET http_request, std::uint64_t announced) {
  const std::string reached = std::string(request.operation) + " : Bytes read reached the contenlength\n";
  const BodyOutcome outcome = ReadAnnouncedBody(
      http_request, announced, [&](const char* bytes, DWORD count) { return GatherPiece(request, bytes, count); },
      BodyLines{request.operation, reached.c_str(), nullptr});
  if (outcome.end == BodyEnd::kTooLong) request.too_long = true;
  return outcome;
}

// The bytes received belong to a version the server no longer serves, or to a range it will never
// serve: the first exchange is made again for the version it has now, everything received is
// dropped and the download continues from byte 0. Once per call: the second time the download ends
// with 412. 0, or the result that ends the download.
int RestartWithTheServersVersion(DownloadRequest& request) {
  if (request.started_over) {
    LogError("%s : The server's file changed again after the download started over; giving up \n", request.operation);
    return kServerFileChanged;
  }
  request.started_over = true;
  LogInfo("%s : The received bytes are not of the server's file; starting over from byte 0 \n", request.operation);
  if (const int result = PreDownloadHandling(request)) return result;
  request.handler.StartOver(request.server_last_modified, request.server_etag);
  request.gathered = 0;
  request.received = 0;
  if (request.content_length == 0) return request.handler.CreateEmptyPartialFile();  // nothing to ask for
  return 0;
}

// The resumable download's side of the ranged requests: the bytes are gathered and appended to the
// recorded partial file; a time-out or a lost connection asks for the range once more.
class ResumableRanges final : public RangedDownload {
 public:
  ResumableRanges(DownloadRequest& request, bool range_line_at_error)
      : RangedDownload(*request.parameters, request.url, request.request_type, request.operation),
        request_(request),
        range_line_at_error_(range_line_at_error) {}

  void LogRangeLinesAtDebug() { range_line_at_error_ = false; }
  void LogRangeRequested(std::uint32_t first, std::uint32_t last) const override {
    if (!range_line_at_error_) return RangedDownload::LogRangeRequested(first, last);
    LogError("%s: Content-Range Header message: Range: bytes=%u-%u\n", Operation(), static_cast<unsigned>(first),
             static_cast<unsigned>(last));
  }

  std::uint32_t Received() const override { return request_.received; }
  FileVersion Version() const override {
    return {request_.content_length, request_.server_last_modified, request_.server_etag};
  }
  int DropReceived() override {
    LogInfo("%s : The server sent the whole file for a range; starting over \n", request_.operation);
    StartOver(request_);
    return 0;
  }
  int StartOverWithNewVersion(RequestHandles& /*handles*/, std::uint64_t& /*body_length*/) override {
    return RestartWithTheServersVersion(request_);
  }
  BodyOutcome ReadBody(HINTERNET request, std::uint64_t announced) override {
    return GatherBody(request_, request, announced);
  }
  bool BrokenConnection(DWORD code) const override { return vx::BrokenConnection(code); }

  void LogFailedStatus(DWORD status) const override {
    LogError("%s : Failed with the http status code, %d \n", request_.operation, static_cast<int>(status));
  }
  void LogBlockOpened(int result, DWORD status) const override {
    LogError("%s: GetInternetRequestHandle function return code: %u  %d\n", request_.operation,
             static_cast<unsigned>(result), static_cast<int>(status));
  }
  void LogBlockRead() const override {
    LogInfo("%s: Bytes Read: %d\n", request_.operation, static_cast<int>(request_.received));
  }

 private:
  DownloadRequest& request_;
  bool range_line_at_error_;
};

// Counts an incomplete whole download where the agent's tools look for failures.
void CountFailure(int result) {
  const std::string metadata_key = std::string(kAgentRootKey) + "\\FileMetaData";
  RegistryKey key;
  DWORD disposition = 0;
  DWORD count = 0;
  if (key.CreateKey(HKEY_LOCAL_MACHINE, metadata_key.c_str(), KEY_ALL_ACCESS | kAgentRegistryView, &disposition) ==
          ERROR_SUCCESS &&
      key.ReadDword("DownloadFailureCount", &count) == ERROR_SUCCESS) {
    ++count;
    LogInfo("DownloadFailureCount set to %d\n", static_cast<int>(count));
  } else {
    LogError("The DownloadFailureCount value could not be read.Resetting to 1\n");
    count = 1;
  }
  (void)key.WriteDword("DownloadFailureCount", count);
  key.CloseKey();

  if (gv_installDir) {
    const std::string error_log = *gv_installDir + "logs\\vxerror.log";
    (void)AppendLineToFile(error_log.c_str(), LongDateTimeText().c_str());
    const std::string line =
        FormatText("\tResume Download failed with error code : %d and total failed count value = %d\n", result,
                   static_cast<int>(count));
    (void)AppendLineToFile(error_log.c_str(), line.c_str());
  }

  const std::string tracking_key = std::string(kAgentRootKey) + "\\ZRTracking\\";
  const std::string details_key = tracking_key + "ResumeDownloadDetails\\";
  DWORD failures = 0;
  if (ReadDwordRegistryData(HKEY_LOCAL_MACHINE, details_key.c_str(), "RESUME_DOWNLOAD_FAILURE_COUNT", &failures) !=
      ERROR_SUCCESS) {
    failures = 0;
  }
  (void)writeValue(HKEY_LOCAL_MACHINE, details_key.c_str(), "RESUME_DOWNLOAD_FAILURE_COUNT",
                   std::to_string(failures + 1).c_str(), REG_DWORD);
  (void)writeValue(HKEY_LOCAL_MACHINE, tracking_key.c_str(), "LastZRDataModifiedTime",
                   std::to_string(Time().UnixSeconds()).c_str(), REG_DWORD);
}

// After the body: the attempt's final append, and the result for a body that ended short or long.
void FinishBody(DownloadRequest& request, int& result) {
  if (result == 0 || BrokenConnection(static_cast<DWORD>(result))) {
    if (const int code = AppendGathered(request, false); code != 0 && result == 0) {
      LogError("%s :  Error in WriteFile --> %d \n", request.operation, code);
      result = code;
    }
  }
  if (request.too_long) {
    // More than announced: a server that sends another body than it announced is not trusted with
    // the bytes kept either, so they are not resumed.
    LogError("%s : The server sent more than the content length %u \n", request.operation,
             static_cast<unsigned>(request.content_length));
    (void)request.handler.CleanFileAndRegistry();
    result = kLengthMismatch;
  } else if (request.received < request.content_length && result == 0) {
    result = kLengthMismatch;  // the partial file stays for a later attempt
  }
}

// The first exchange and the metadata. 0 to go on; otherwise the download is over, its end handled
// and logged, and this is its result.
int BeginDownload(DownloadRequest& request, std::string* out) {
  int result = PreDownloadHandling(request);
  if (result == 0) result = PrepareResume(request);
  if (result != 0) PostDownloadHandling(request, nullptr, result, out);
  return result;
}

// Whether the partial file already holds the whole file (it is then handed over at once). An empty
// file has no partial file on disk yet: it is created here.
bool CompleteBeforeAnyRange(DownloadRequest& request) {
  if (request.received != request.content_length) return false;
  if (request.content_length == 0) (void)request.handler.CreateEmptyPartialFile();
  return true;
}

// The whole transfer's body: the rest of the file, recovering from a broken connection with a
// validated range for the rest (once per failure: failing again before any data ends it). The
// result of the transfer.
int ReceiveRestOfFile(DownloadRequest& request, ResumableRanges& ranges, RequestHandles& handles,
                      std::uint64_t announced) {
  int result = 0;
  bool just_recovered = false;
  while (result == 0 && request.received < request.content_length && handles.request.valid()) {
    const BodyOutcome outcome = GatherBody(request, handles.request.get(), announced);
    result = static_cast<int>(outcome.code);
    if (outcome.end != BodyEnd::kAvailabilityFailed || !BrokenConnection(outcome.code)) break;
    if (just_recovered && outcome.answered_queries == 0) break;
    LogInfo("ResumeGetRequestEx : Total Bytes read so far:%u\n", static_cast<unsigned>(request.received));
    LogInfo("ResumeGetRequestEx : second attempt to recover from previous error\n");
    CloseRequestHandles(handles);
    result = OpenRestOfFile(ranges, handles, request.keep_alive, announced);
    just_recovered = true;
  }
  return result;
}

}  // namespace

int ResumeGetRequestEx(const ConnectionParameters& parameters, const wchar_t* object_path, const wchar_t* destination,
                       std::string* out, int request_type, unsigned char keep_alive) {
  constexpr const char* kOperation = "ResumeGetRequestEx";
  LogDebug("@@@@@@@@ Inside ResumeGetRequestEx Method @@@@@@@@ \n");
  LogDebug("ResumeGetRequestEx : URL to Get -> %ls \n", object_path);
  if (!HasTarget(kOperation, request_type, destination, out)) return kMissingInput;
  DownloadRequest request;
  FillRequest(request, parameters, object_path, destination, request_type, keep_alive, kOperation);

  int result = BeginDownload(request, out);
  if (result != 0) {
    LogError("@@@@@@@@ End Of ResumeGetRequestEx Method @@@@@@@@ \n");
    return result;
  }
  if (CompleteBeforeAnyRange(request)) {
    PostDownloadHandling(request, nullptr, result, out);
    LogError("@@@@@@@@ End Of ResumeGetRequestEx Method @@@@@@@@ Full File already exist\n");
    return result;
  }

  RequestHandles handles;
  ResumableRanges ranges(request, true);
  std::uint64_t announced = 0;
  result = OpenRestOfFile(ranges, handles, 1, announced);
  ranges.LogRangeLinesAtDebug();  // only the first range request's line is an error line
  LogDebug("ResumeGetRequestEx: GetInternetRequestHandle function return code: %u\n", static_cast<unsigned>(result));
  if (result != 0) {
    // A failed range request ends here; what was recorded before stays for a later attempt.
    LogDebug("@@@@@@@@ End Of ResumeGetRequestEx Method @@@@@@@@ \n");
    return result;
  }
  result = ReceiveRestOfFile(request, ranges, handles, announced);

  LogInfo("ResumeGetRequestEx: Total bytes read = %u\n", static_cast<unsigned>(request.received));
  if (request.received < request.content_length) CountFailure(result);
  FinishBody(request, result);
  PostDownloadHandling(request, &handles, result, out);
  LogDebug("@@@@@@@@ End Of ResumeGetRequestEx Method @@@@@@@@ \n");
  return result;
}

int ResumeGetRequestByBitrate(const ConnectionParameters& parameters, const wchar_t* object_path,
                              const wchar_t* destination, std::string* out, int request_type,
                              unsigned char keep_alive) {
  constexpr const char* kOperation = "ResumeGetRequestByBitrate";
  LogDebug("@@@@@@@@ Inside ResumeGetRequestByBitrate Method @@@@@@@@ \n");
  LogInfo("ResumeGetRequestByBitrate : Quorvant Server & Port -> %ls : %d \n", parameters.server.c_str(),
          parameters.port);
  LogDebug("ResumeGetRequestByBitrate : URL to Get -> %ls \n", object_path);
  if (!HasTarget(kOperation, request_type, destination, out)) return kMissingInput;
  DownloadRequest request;
  FillRequest(request, parameters, object_path, destination, request_type, keep_alive, kOperation);

  int result = BeginDownload(request, out);
  if (result != 0) {
    LogDebug("@@@@@@@@ End Of ResumeGetRequestByBitrate Method @@@@@@@@ \n");
    return result;
  }

  RequestHandles handles;
  if (!CompleteBeforeAnyRange(request)) {
    const std::uint32_t block_size = static_cast<std::uint32_t>(gv_dataTransferRateKBps) * kBlockBytesPerKBps;
    LogDebug("ResumeGetRequestByBitrate: Block of bytes to read: %u\n", block_size);
    ResumableRanges ranges(request, false);
    result = DownloadInBlocks(ranges, handles, block_size);
  }

  LogInfo("ResumeGetRequestByBitrate: Total bytes read = %u\n", static_cast<unsigned>(request.received));
  FinishBody(request, result);
  PostDownloadHandling(request, &handles, result, out);
  LogDebug("@@@@@@@@ End Of ResumeGetRequestByBitrate Method @@@@@@@@ \n");
  return result;
}

}  // namespace vx
