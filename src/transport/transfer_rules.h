// The transport's decisions that need no network: path rewriting by product, the failover order
// over a server's addresses, download block ranges and pacing, and the text form of downloaded data.
// Portable and thread-safe.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/time_source.h"

namespace vx {

// ASCII comparisons without regard to case (the project's one folding, base/ascii_text.h).
[[nodiscard]] bool EqualsIgnoringCase(std::string_view a, std::string_view b);
[[nodiscard]] bool ContainsIgnoringCase(std::string_view text, std::string_view part);

// 0 and 90001 (not modified) count as success for routing.
[[nodiscard]] bool IsTransferSuccess(int result);
// Results after which the next address of the server is tried: name not resolved, cannot connect,
// time-out, invalid URL, and the HTTP status 400.
[[nodiscard]] bool IsFailoverCode(int result);

// The request path with every backslash turned into a slash.
[[nodiscard]] std::string ForwardSlashes(std::string path);

// What the retry policy of a request (download or upload) does after a failed send or receive.
enum class RetryAction {
  kFail,            // the call ends with the error
  kReopen,          // the request (downloads: the whole chain) is opened again, once per call
  kPauseAndResend,  // 12032: wait kResendPause and send again, counting the attempt
  kResend,          // send again at once, counting the attempt
};
// A send that failed with code: 12015 and 12017 reopen, once; anything else ends the call.
[[nodiscard]] RetryAction AfterSendFailure(std::uint32_t code, bool reopened);
// A receive that failed with code: 12032 pauses and resends; 12015 and 12152 reopen, once, and
// then resend; anything else ends the call.
[[nodiscard]] RetryAction AfterReceiveFailure(std::uint32_t code, bool reopened);

// The path as the server of the product expects it, logging the routing decision: hosted editions
// ("RNHX") reach plain files through the client-data servlet on the management server, another
// ("KVTLN") serves everything below "vx/", the others take the path as it is.
[[nodiscard]] std::string RewritePathForProduct(const std::optional<std::string>& product_code, const std::string& path,
                                                bool to_management_server, int request_type);

// The outcome of trying a server's five addresses.
struct FailoverOutcome {
  int result = 0;
  // The 0-based candidate that answered and becomes the last access name (1 to 4), or -1 when the
  // last access name stays as it is (candidate 0 answered, or nothing succeeded).
  int new_last_access = -1;
};

// Tries the candidates in the failover order: the last access name first; the others only after
// a failover code. The IP address (1) is followed by the secondary address (2) after any failure;
// the server name (3) and flat name (4) only follow a failover code. Unusable candidates (too
// short) are skipped and leave the result as it was, which starts as 12007.
[[nodiscard]] FailoverOutcome RunFailover(const std::array<bool, 5>& usable, const std::function<int(int)>& transfer);

// The last byte asked for by a rate-limited block that starts at start: start + block_size - 1, but
// never past content_length, which is itself the end of the last block. Worked out in 64 bits, so a
// file within one block of 4 GiB still ends at its length; a block size of 0 keeps its wrap (the
// first block is the whole file, a later one ends one byte before it starts).
[[nodiscard]] std::uint32_t BlockEnd(std::uint32_t start, std::uint32_t block_size, std::uint32_t content_length);

// Milliseconds since midnight of a local time.
[[nodiscard]] std::int64_t MillisecondsOfDay(const LocalTime& time);

// The pause after a rate-limited block that took elapsed_ms: up to 600 ms for a block under 450 ms,
// else 100 ms. A negative time (the clock passed midnight) counts as long.
[[nodiscard]] std::uint32_t PacingPauseMilliseconds(std::int64_t elapsed_ms);

// The pace of one rate-limited block: the clock starts when the object is made; Pause sleeps the
// pause that the block's elapsed time calls for, through the time seam.
class BlockPace {
 public:
  BlockPace();
  void Pause() const;

 private:
  std::int64_t start_ms_;
};

// Rate-limited blocks that bring no byte (an empty answer, or a failure other than a time-out) are
// fetched again, but not for ever.
class BlockProgress {
 public:
  static constexpr int kMaximumBlocksWithoutProgress = 3;
  // Notes a block that began at byte first and left the download at byte now; true when it is the
  // third block in a row that brought nothing.
  [[nodiscard]] bool GiveUp(std::uint32_t first, std::uint32_t now) {
    blocks_without_progress_ = now == first ? blocks_without_progress_ + 1 : 0;
    return blocks_without_progress_ >= kMaximumBlocksWithoutProgress;
  }
  [[nodiscard]] int BlocksWithoutProgress() const { return blocks_without_progress_; }

 private:
  int blocks_without_progress_ = 0;
};

// How the answer to a ranged GET may be used.
enum class RangeAnswer {
  kPart,       // 206 for the bytes asked for, of the version the bytes so far belong to
  kWholeFile,  // 200 with the whole of that version: it replaces what was received so far
  kStartOver,  // another version, another length, or a range the server will never serve
  kFailed,     // a status that is not file content
};

// What a download knows of the file it is receiving: the length, the Last-Modified text and the
// ETag of the first answer ("" when the server sent none).
struct FileVersion {
  std::uint32_t length = 0;
  std::string last_modified;
  std::string etag;
};

// Whether the version can be told from another one of the same length: it has a validator.
[[nodiscard]] bool HasValidator(const FileVersion& version);

// The If-Range text that ranged requests for the version carry: its ETag when it is a strong one
// (a weak ETag never matches in If-Range), else its Last-Modified text, else "".
[[nodiscard]] std::string IfRangeValidator(const FileVersion& version);

// The parts of a ranged answer that decide whether its body continues the bytes received so far.
// Texts are absent when the header was not sent.
struct RangeResponse {
  std::uint32_t status = 0;
  std::optional<std::string> content_range;
  std::optional<std::string> last_modified;
  std::optional<std::uint32_t> content_length;
  std::optional<std::string> etag;
};

// A 206 is taken only when its Content-Range ("bytes A-B/T") starts at first and T is the version's
// length; a 200 only with the version's length. Either is another version when it carries a
// Last-Modified text other than the recorded one, and, when the version has an ETag, unless it
// carries that same ETag. A 416 for a range that does not start at 0 can never be served; any other
// status fails the download.
[[nodiscard]] RangeAnswer JudgeRangeAnswer(const RangeResponse& response, std::uint32_t first,
                                           const FileVersion& version);

// The most body bytes an answer the judgement took may bring: the version's length for a whole
// file; for a part, the bytes from first to the end of what was asked for (last, at most the
// version's last byte), of its Content-Range and of its Content-Length, whichever ends first. 0 for
// any other answer. A body that brings more is not the announced one.
[[nodiscard]] std::uint64_t AnnouncedBodyLength(const RangeResponse& response, RangeAnswer answer, std::uint32_t first,
                                                std::uint32_t last, const FileVersion& version);

// The SHA-256 fingerprints in an administrator's pin list, as 64 lower-case hexadecimal digits
// each. Entries are separated by ';', ',' or white space; colons inside an entry and the case of the
// digits do not matter. Entries that are not 32 bytes of hexadecimal are left out.
[[nodiscard]] std::vector<std::string> ParseCertificatePins(std::string_view text);

// Registry value types as the registry reports them.
inline constexpr std::uint32_t kRegistryText = 1;          // REG_SZ
inline constexpr std::uint32_t kRegistryExpandText = 2;    // REG_EXPAND_SZ
inline constexpr std::uint32_t kRegistryDword = 4;         // REG_DWORD
inline constexpr std::uint32_t kRegistryMultiText = 7;     // REG_MULTI_SZ
// Values larger than this are not read whole; a pin list of that size is no pin list.
inline constexpr std::size_t kLargestPinValueBytes = 64 * 1024;

// A registry value as it was found: its type and its bytes (a text's NULs included, if any).
struct RegistryValueData {
  std::uint32_t type = 0;
  std::string bytes;
};

// What a present pin value allows. An empty pin list accepts no certificate: a value that is there
// always turns the check on, whatever it holds; problem then says why nothing is accepted.
struct PinValue {
  std::vector<std::string> pins;
  std::string problem;  // "" when the value gave at least one fingerprint
};

// The fingerprints of a present "ServerCertificateSHA256" value: a REG_SZ or REG_EXPAND_SZ of any
// length (up to its first NUL, with or without one), a REG_MULTI_SZ with one or more entries per
// string. Any other type, or text without a valid fingerprint, yields none and a problem.
[[nodiscard]] PinValue PinsFromRegistryValue(const RegistryValueData& value);

// Whether a present "StrictServerCertificateCheck" value asks for validation against the trust
// store: a REG_DWORD other than 0 does; a value of any other type or size cannot say "no", so it does
// too, with problem saying why.
[[nodiscard]] bool StrictCheckFromRegistryValue(const RegistryValueData& value, std::string& problem);

// What a resumable download finds recorded for its URL's id, and on disk.
struct PartialFileRecord {
  std::string last_modified;                  // "LastModifiedTime", "" when absent
  std::string etag;                           // "ETag", "" when absent
  std::optional<std::uint32_t> size;          // "PartialFileSize"
  std::optional<std::uint64_t> file_size;     // the partial file's size, none when it cannot be measured
  bool in_progress = false;                   // "downloadInProgress" is set
  std::int64_t last_retry_ms = 0;             // "LastRetryTime", 0 when absent or not a number
};

// Whether a running download holds the id: its named object is ours, another running download's of
// this account, or cannot be told (no object, or one another account made).
enum class IdClaim { kOwned, kHeldByAnother, kUnknown };

// Who the id's partial file belongs to.
enum class PartialFileOwner {
  kThisDownload,     // resumed when the record allows, else started over on the same id
  kRunningDownload,  // another download runs: this one downloads on a temporary id of its own
  kStale,            // a mark whose holder cannot be told, older than 90 minutes: cleaned away
};

struct ResumeDecision {
  PartialFileOwner owner = PartialFileOwner::kThisDownload;
  bool resume = false;    // the download continues from the recorded size
  bool cut_back = false;  // the file holds bytes beyond the record: cut back to it first
};

// Marks whose holder cannot be told count as running for this long after their last append.
inline constexpr std::int64_t kInProgressLifetimeMs = 90LL * 60 * 1000;

// The resume and ownership decision for a recorded id. The partial file is resumed only by its
// owner and only when the record names the server's version (Last-Modified text, ignoring case, and
// ETag both equal, the server having sent at least one of them) with a size that the file on disk
// holds. The download owns the id when it holds its object, or when nobody can be told to and no mark
// is set; a held object means a running download however old its mark, and a mark without a holder
// that can be told runs for kInProgressLifetimeMs from its last append (one without a time is old).
[[nodiscard]] ResumeDecision DecideResume(const PartialFileRecord& record, std::string_view server_last_modified,
                                          std::string_view server_etag, IdClaim claim, std::int64_t now_ms);

// Whether a name in the download repository is a download id as downloads form them (decimal digits,
// optionally followed by '-' and a sequence number): only such files are partial files.
[[nodiscard]] bool IsDownloadIdName(std::string_view name);

// Bytes as lower-case hexadecimal digits.
[[nodiscard]] std::string HexText(const unsigned char* bytes, std::size_t size);

// Downloaded bytes as the text handed to a caller: ends at the first NUL, CR LF read as LF.
[[nodiscard]] std::string TextFromDownloadedBytes(std::string_view bytes);

// Files that are always downloaded in one piece, never resumably (".xml" and ".json" anywhere in the
// object path, case-sensitive).
[[nodiscard]] bool AlwaysWholeDownload(std::wstring_view object_path);

}  // namespace vx
