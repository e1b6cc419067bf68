// The body reader of every download, and the ranged requests and rate-limited blocks shared by the
// whole download and the resumable one (Windows): every ranged answer is judged against the version
// being received before a byte of it is kept, no body is kept past the length its answer announced,
// blocks are paced, and a block whose connection broke is asked for once more.
//
// Everything runs on the calling thread; a RangedDownload belongs to one download.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <functional>

#include "transport/request_setup_win.h"
#include "transport/transfer_rules.h"
#include "transport/transport_types.h"

namespace vx {

// How reading the body of an answer ended.
enum class BodyEnd {
  kDone,                // the announced length was reached, or the answer had nothing more
  kAvailabilityFailed,  // code: WinHttpQueryDataAvailable's error
  kWriteFailed,         // code: the sink's error
  kReadFailed,          // code: WinHttpReadData's error
  kTooLong,             // code kLengthMismatch: the body went on past its announced length
};
struct BodyOutcome {
  BodyEnd end = BodyEnd::kDone;
  DWORD code = 0;
  int answered_queries = 0;  // availability queries that succeeded
  std::uint64_t kept = 0;    // bytes handed to the sink
};

// Where a body's bytes go: 0, or the Windows error of keeping them.
using BodySink = std::function<DWORD(const char* bytes, DWORD count)>;
// Where the sink would have the next count bytes read to, so that they need no copy (the sink then
// receives that address), or null for the reader's own buffer.
using BodyWindow = std::function<char*(DWORD count)>;

// The lines of one operation's body reading. Failures are logged at error level as
// "<operation> : Error occured in WinHttpQueryDataAvailable --> %d \n",
// "<operation> :  Error in WinHttpReadData --> %d \n" and "<operation> :  Error in WriteFile --> %d \n".
struct BodyLines {
  const char* operation = "";
  const char* reached = nullptr;    // info line when the announced length is reached, if any
  const char* available = nullptr;  // debug line (%u) with each available count, if any
};

// Reads the answer's body into sink, never more than announced bytes: it stops when they have come,
// and a byte past them ends the reading with kTooLong before that byte is kept. An answer whose
// length was not announced announces 0. Network reads larger than 1 MiB come in pieces, read into
// the sink's window when it offers one.
[[nodiscard]] BodyOutcome ReadAnnouncedBody(HINTERNET request, std::uint64_t announced, const BodySink& sink,
                                            const BodyLines& lines, const BodyWindow& window = nullptr);

// A download that receives its file in ranges. The driver asks it where it stands and hands it the
// answers to read; what becomes of the bytes (a temporary file, a recorded partial file) and the
// log lines of its own are the download's.
class RangedDownload {
 public:
  RangedDownload(const ConnectionParameters& parameters, const wchar_t* url, int request_type, const char* operation)
      : parameters_(parameters), url_(url), request_type_(request_type), operation_(operation) {}
  virtual ~RangedDownload() = default;
  RangedDownload(const RangedDownload&) = delete;
  RangedDownload& operator=(const RangedDownload&) = delete;

  const ConnectionParameters& Parameters() const { return parameters_; }
  const wchar_t* Url() const { return url_; }
  int RequestType() const { return request_type_; }
  const char* Operation() const { return operation_; }

  // Bytes kept so far, counted from the start of the file, and the version they belong to.
  [[nodiscard]] virtual std::uint32_t Received() const = 0;
  [[nodiscard]] virtual FileVersion Version() const = 0;
  // The server sent the whole file for a range that does not start at 0: what was kept goes, the
  // answer's body takes its place. 0 or the error.
  [[nodiscard]] virtual int DropReceived() = 0;
  // The kept bytes are not of the file the server has now (or of a range it will never serve):
  // learn its version and drop them, once per download. A download that fetches the new version
  // whole at once leaves its answer open in handles, with body_length set; otherwise the handles
  // stay closed and the caller asks for the version from byte 0. 0, or the result that ends the
  // download.
  [[nodiscard]] virtual int StartOverWithNewVersion(RequestHandles& handles, std::uint64_t& body_length) = 0;
  // Reads the body of an answered range, keeping at most announced bytes of it (ReadAnnouncedBody).
  [[nodiscard]] virtual BodyOutcome ReadBody(HINTERNET request, std::uint64_t announced) = 0;
  // An availability failure after which the block is asked for once more.
  [[nodiscard]] virtual bool BrokenConnection(DWORD code) const = 0;

  // The download's own lines: the range asked for (debug level unless the download says otherwise),
  // the failure status of a range, and the points of the block loop.
  virtual void LogRangeRequested(std::uint32_t first, std::uint32_t last) const;
  virtual void LogFailedStatus(DWORD status) const = 0;
  virtual void LogRangeAnswered(int /*result*/) const {}
  virtual void LogBlockOpened(int /*result*/, DWORD /*status*/) const {}
  virtual void LogBlockRead() const = 0;

 private:
  const ConnectionParameters& parameters_;
  const wchar_t* url_;
  int request_type_;
  const char* operation_;
};

enum class RangeStep {
  kReady,        // the handles hold the range, or the whole file, to read
  kStartedOver,  // the download starts over from byte 0 of the server's version; nothing to read yet
  kEnded,        // result ends the download
};

// Asks for bytes Received() to last, validated against the version being received, and settles what
// the answer means; body_length receives the most bytes its body may bring. The handles are closed
// unless the step is kReady (or a drop failed).
[[nodiscard]] RangeStep OpenValidatedRange(RangedDownload& download, RequestHandles& handles, unsigned char keep_alive,
                                           std::uint32_t last, int& result, std::uint64_t& body_length);

// Asks for the rest of the file (Received() to the version's length), starting over from byte 0 of
// the server's version when the bytes kept are of another. 0 with the handles ready to read and
// body_length set, or with no request open when the server's version is empty (nothing to read);
// otherwise the result that ends the download, the handles closed.
[[nodiscard]] int OpenRestOfFile(RangedDownload& download, RequestHandles& handles, unsigned char keep_alive,
                                 std::uint64_t& body_length);

// Receives the rest of the file in paced blocks of block_size bytes, every request keeping its
// connection alive. 0 when the last block arrived, else the result that ended the download.
[[nodiscard]] int DownloadInBlocks(RangedDownload& download, RequestHandles& handles, std::uint32_t block_size);

}  // namespace vx
