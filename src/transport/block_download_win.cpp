#include "transport/block_download_win.h"

#include <algorithm>
#include <new>
#include <vector>

#include "logging/logger.h"
#include "transport/transport_error_texts.h"
#include "transport/winhttp_api_win.h"

namespace vx {
namespace {

constexpr DWORD kLargestPiece = 1024 * 1024;

BodyOutcome Failed(BodyEnd end, DWORD code, const char* format, const BodyLines& lines, const BodyOutcome& so_far) {
  LogError(format, lines.operation, static_cast<int>(code));
  HttpGetLastError(code);
  BodyOutcome outcome = so_far;
  outcome.end = end;
  outcome.code = code;
  return outcome;
}

}  // namespace

BodyOutcome ReadAnnouncedBody(HINTERNET request, std::uint64_t announced, const BodySink& sink,
                              const BodyLines& lines, const BodyWindow& window) {
  const WinHttpApi& api = WinHttp();
  BodyOutcome outcome;
  std::vector<char> buffer;
  for (;;) {
    DWORD available = 0;
    if (!api.query_data_available(request, &available)) {
      return Failed(BodyEnd::kAvailabilityFailed, api.last_error(),
                    "%s : Error occured in WinHttpQueryDataAvailable --> %d \n", lines, outcome);
    }
    ++outcome.answered_queries;
    if (lines.available != nullptr) LogDebug(lines.available, static_cast<unsigned>(available));
    if (available == 0) return outcome;
    const DWORD wanted = std::min(available, kLargestPiece);
    char* target = window ? window(wanted) : nullptr;
    try {
      if (target == nullptr && buffer.size() < wanted) buffer.resize(wanted);
    } catch (const std::bad_alloc&) {
      return Failed(BodyEnd::kReadFailed, ERROR_NOT_ENOUGH_MEMORY, "%s :  Error in WinHttpReadData --> %d \n", lines,
                    outcome);
    }
    if (target == nullptr) target = buffer.data();
    DWORD read = 0;
    if (!api.read_data(request, target, wanted, &read)) {
      return Failed(BodyEnd::kReadFailed, api.last_error(), "%s :  Error in WinHttpReadData --> %d \n", lines, outcome);
    }
    read = std::min(read, wanted);
    if (read == 0) return outcome;
    const std::uint64_t room = announced - outcome.kept;
    const DWORD kept = static_cast<DWORD>(std::min<std::uint64_t>(read, room));
    if (kept != 0) {
      if (const DWORD code = sink(target, kept)) {
        return Failed(BodyEnd::kWriteFailed, code, "%s :  Error in WriteFile --> %d \n", lines, outcome);
      }
      outcome.kept += kept;
    }
    if (kept < read) {
      LogError("%s : The answer goes on past the %llu bytes it announced \n", lines.operation,
               static_cast<unsigned long long>(announced));
      outcome.end = BodyEnd::kTooLong;
      outcome.code = kLengthMismatch;
      return outcome;
    }
    if (outcome.kept == announced) {
      if (lines.reached != nullptr) LogInfo("%s", lines.reached);
      return outcome;
    }
  }
}

void RangedDownload::LogRangeRequested(std::uint32_t first, std::uint32_t last) const {
  LogDebug("%s: Content-Range Header message: Range: bytes=%u-%u\n", operation_, static_cast<unsigned>(first),
           static_cast<unsigned>(last));
}

RangeStep OpenValidatedRange(RangedDownload& download, RequestHandles& handles, unsigned char keep_alive,
                             std::uint32_t last, int& result, std::uint64_t& body_length) {
  const std::uint32_t first = download.Received();
  download.LogRangeRequested(first, last);
  result = 0;
  const RangeAnswer answer = OpenRange(download.Parameters(), download.Url(), download.RequestType(), keep_alive,
                                       handles, first, last, download.Version(), result, body_length);
  download.LogRangeAnswered(result);
  if (answer == RangeAnswer::kPart) return RangeStep::kReady;
  if (answer == RangeAnswer::kWholeFile) {
    // Only the rest of the file may be appended: a whole file replaces what was kept.
    if (first != 0) result = download.DropReceived();
    return result == 0 ? RangeStep::kReady : RangeStep::kEnded;
  }
  const DWORD status = handles.status;
  CloseRequestHandles(handles);
  if (answer == RangeAnswer::kFailed) {
    if (result == 0) {
      download.LogFailedStatus(status);
      result = static_cast<int>(status);
    }
    return RangeStep::kEnded;
  }
  result = download.StartOverWithNewVersion(handles, body_length);
  if (result != 0) return RangeStep::kEnded;
  return handles.request.valid() ? RangeStep::kReady : RangeStep::kStartedOver;
}

int OpenRestOfFile(RangedDownload& download, RequestHandles& handles, unsigned char keep_alive,
                   std::uint64_t& body_length) {
  for (;;) {
    int result = 0;
    const RangeStep step =
        OpenValidatedRange(download, handles, keep_alive, download.Version().length, result, body_length);
    if (step != RangeStep::kStartedOver || download.Version().length == 0) return result;
  }
}

int DownloadInBlocks(RangedDownload& download, RequestHandles& handles, std::uint32_t block_size) {
  const char* operation = download.Operation();
  int result = 0;
  bool retry_mark = false;  // the last block's connection broke
  BlockProgress progress;
  while (download.Received() < download.Version().length) {
    const BlockPace pace;
    const std::uint32_t block_first = download.Received();
    const std::uint32_t block_last = BlockEnd(block_first, block_size, download.Version().length);
    std::uint64_t body_length = 0;
    const RangeStep step = OpenValidatedRange(download, handles, 1, block_last, result, body_length);
    if (step == RangeStep::kStartedOver) continue;
    download.LogBlockOpened(result, handles.status);
    if (step == RangeStep::kEnded) break;

    const BodyOutcome outcome = download.ReadBody(handles.request.get(), body_length);
    if (outcome.answered_queries > 0) retry_mark = false;
    result = static_cast<int>(outcome.code);
    if (outcome.end == BodyEnd::kWriteFailed || outcome.end == BodyEnd::kReadFailed ||
        outcome.end == BodyEnd::kTooLong) {
      break;
    }
    if (outcome.end == BodyEnd::kAvailabilityFailed && download.BrokenConnection(outcome.code)) {
      CloseRequestHandles(handles);
      if (retry_mark) break;  // the second broken block in a row ends the download
      retry_mark = true;
    }
    download.LogBlockRead();

    if (progress.GiveUp(block_first, download.Received())) {
      LogError("%s : No data received in %d blocks in a row, giving up \n", operation,
               progress.BlocksWithoutProgress());
      if (result == 0) result = kLengthMismatch;
      break;
    }
    if (retry_mark) {
      LogInfo("%s : second attempt of the previous request\n", operation);
      continue;
    }
    CloseRequestHandles(handles);
    pace.Pause();
    result = 0;
  }
  return result;
}

}  // namespace vx
