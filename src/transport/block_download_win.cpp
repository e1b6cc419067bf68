#include "transport/block_download_win.h"

#include "logging/logger.h"

namespace vx {

RangeStep OpenValidatedRange(RangedDownload& download, RequestHandles& handles, unsigned char keep_alive,
                             std::uint32_t last, int& result) {
  const std::uint32_t first = download.Received();
  LogDebug("%s: Content-Range Header message: Range: bytes=%u-%u\n", download.Operation(), static_cast<unsigned>(first),
           static_cast<unsigned>(last));
  result = 0;
  const RangeAnswer answer = OpenRange(download.Parameters(), download.Url(), download.RequestType(), keep_alive,
                                       handles, first, last, download.Version(), result);
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
  result = download.StartOverWithNewVersion();
  return result == 0 ? RangeStep::kStartedOver : RangeStep::kEnded;
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
    const RangeStep step = OpenValidatedRange(download, handles, 1, block_last, result);
    if (step == RangeStep::kStartedOver) continue;
    download.LogBlockOpened(result, handles.status);
    if (step == RangeStep::kEnded) break;

    const BodyOutcome outcome = download.ReadBody(handles.request);
    if (outcome.answered_queries > 0) retry_mark = false;
    result = static_cast<int>(outcome.code);
    if (outcome.end == BodyEnd::kWriteFailed || outcome.end == BodyEnd::kReadFailed) break;
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
