#include "transport/transfer_rules.h"

#include <algorithm>
#include <utility>

#include "base/ascii_text.h"
#include "logging/logger.h"
#include "transport/transport_types.h"

namespace vx {
namespace {

constexpr int kNameNotResolved = 12007;
constexpr int kCannotConnect = 12029;
constexpr int kTimeout = 12002;
constexpr int kInvalidUrl = 12005;
constexpr int kBadRequest = 400;

}  // namespace

bool EqualsIgnoringCase(std::string_view a, std::string_view b) { return EqualsIgnoreAsciiCase(a, b); }

bool ContainsIgnoringCase(std::string_view text, std::string_view part) {
  return part.empty() || std::search(text.begin(), text.end(), part.begin(), part.end(),
                                     [](char x, char y) { return LowerAscii(x) == LowerAscii(y); }) != text.end();
}

bool IsTransferSuccess(int result) { return result == 0 || result == kNotModified; }

bool IsFailoverCode(int result) {
  return result == kNameNotResolved || result == kCannotConnect || result == kTimeout || result == kInvalidUrl ||
         result == kBadRequest;
}

RetryAction AfterSendFailure(std::uint32_t code, bool reopened) {
  constexpr std::uint32_t kLoginFailure = 12015;
  constexpr std::uint32_t kOperationCancelled = 12017;
  return (code == kLoginFailure || code == kOperationCancelled) && !reopened ? RetryAction::kReopen
                                                                             : RetryAction::kFail;
}

RetryAction AfterReceiveFailure(std::uint32_t code, bool reopened) {
  constexpr std::uint32_t kResendRequest = 12032;
  constexpr std::uint32_t kLoginFailure = 12015;
  constexpr std::uint32_t kInvalidServerResponse = 12152;
  if (code == kResendRequest) return RetryAction::kPauseAndResend;
  if (code == kLoginFailure || code == kInvalidServerResponse) {
    return reopened ? RetryAction::kResend : RetryAction::kReopen;
  }
  return RetryAction::kFail;
}

std::string ForwardSlashes(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::string RewritePathForProduct(const std::optional<std::string>& product_code, const std::string& path,
                                  bool to_management_server, int request_type) {
  const char* code = product_code ? product_code->c_str() : "(null)";
  const std::string_view code_text = product_code ? std::string_view(*product_code) : std::string_view();
  if (EqualsIgnoringCase(code_text, "RNHX")) {
    if (!to_management_server || (request_type != GET_DATA && request_type != DOWNLOAD_FILE)) {
      LogInfo(
          "AgentSendRequest - gv_vxProductCode is [%s], toVXServer is set to [%d]. Request Type is NOT GET_DATA / "
          "DOWNLOAD_FILE and is [%d]\n",
          code, to_management_server ? 1 : 0, request_type);
      return path;
    }
    for (const char* servlet : {"/agentRequest?", "/agentSlot?", "/agenttrayicon?", "agentinfo?"}) {
      if (ContainsIgnoringCase(path, servlet)) {
        LogInfo(
            "AgentSendRequest - gv_vxProductCode is [%s], requestType is GET_DATA / DOWNLOAD_FILE [%d] and is servlet "
            "request \n",
            code, request_type);
        return path;
      }
    }
    return "clientdatarequest?fileName=" + path;
  }
  if (EqualsIgnoringCase(code_text, "KVTLN")) {
    LogInfo("AgentSendRequest - gv_vxProductCode is [%s], requestType is GET_DATA / DOWNLOAD_FILE [%d] \n", code,
            request_type);
    return "vx/" + path;
  }
  LogDebug("AgentSendRequest - Stand Alone / MSP build : gv_vxProductCode is [%s] \n", code);
  return path;
}

FailoverOutcome RunFailover(const std::array<bool, 5>& usable, const std::function<int(int)>& transfer) {
  FailoverOutcome outcome{kNameNotResolved, -1};
  // Tries candidate index when usable; a success of a later candidate makes it the last access name.
  const auto attempt = [&](int index) {
    if (!usable[static_cast<std::size_t>(index)]) return;
    outcome.result = transfer(index);
    if (index > 0 && IsTransferSuccess(outcome.result)) outcome.new_last_access = index;
  };
  attempt(0);
  if (!IsFailoverCode(outcome.result)) return outcome;
  attempt(1);
  if (IsTransferSuccess(outcome.result)) return outcome;
  attempt(2);
  if (!IsFailoverCode(outcome.result)) return outcome;
  attempt(3);
  if (!IsFailoverCode(outcome.result)) return outcome;
  attempt(4);
  return outcome;
}

std::uint32_t BlockEnd(std::uint32_t start, std::uint32_t block_size, std::uint32_t content_length) {
  if (block_size == 0) return start == 0 ? content_length : std::min(start - 1u, content_length);
  const std::uint64_t end = static_cast<std::uint64_t>(start) + block_size - 1u;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(end, content_length));
}

std::int64_t MillisecondsOfDay(const LocalTime& time) {
  return ((static_cast<std::int64_t>(time.hour) * 60 + time.minute) * 60 + time.second) * 1000 + time.millisecond;
}

std::uint32_t PacingPauseMilliseconds(std::int64_t elapsed_ms) {
  constexpr std::int64_t kFastBlock = 450;
  constexpr std::int64_t kPacedBlock = 600;
  constexpr std::uint32_t kShortPause = 100;
  if (elapsed_ms >= 0 && elapsed_ms < kFastBlock) return static_cast<std::uint32_t>(kPacedBlock - elapsed_ms);
  return kShortPause;
}

BlockPace::BlockPace() : start_ms_(MillisecondsOfDay(Time().LocalNow())) {}

void BlockPace::Pause() const {
  Time().SleepMilliseconds(PacingPauseMilliseconds(MillisecondsOfDay(Time().LocalNow()) - start_ms_));
}

ResumeDecision DecideResume(const PartialFileRecord& record, std::string_view server_last_modified,
                            std::string_view server_etag, IdClaim claim, std::int64_t now_ms) {
  ResumeDecision decision;
  const bool same_version = (!server_last_modified.empty() || !server_etag.empty()) &&
                            EqualsIgnoringCase(record.last_modified, server_last_modified) &&
                            record.etag == server_etag;
  // Bytes beyond the record were written but not yet recorded; the recorded ones are on disk.
  const bool complete_on_disk = record.size && record.file_size && *record.file_size >= *record.size;
  if (claim == IdClaim::kOwned || (claim == IdClaim::kUnknown && !record.in_progress)) {
    decision.resume = same_version && complete_on_disk;
    decision.cut_back = decision.resume && *record.file_size > *record.size;
    return decision;
  }
  // A held object means the download runs, however old its mark; the age of a mark (from the future
  // included) decides only when nobody holds it as far as can be told.
  const bool running = claim == IdClaim::kHeldByAnother || record.last_retry_ms > now_ms - kInProgressLifetimeMs;
  decision.owner = running ? PartialFileOwner::kRunningDownload : PartialFileOwner::kStale;
  return decision;
}

std::string TextFromDownloadedBytes(std::string_view bytes) {
  bytes = bytes.substr(0, bytes.find('\0'));
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text.push_back(bytes[i]);
  }
  return text;
}

bool AlwaysWholeDownload(std::wstring_view object_path) {
  return object_path.find(L".xml") != std::wstring_view::npos || object_path.find(L".json") != std::wstring_view::npos;
}

namespace {

// Digits only, fitting 32 bits.
std::optional<std::uint32_t> ParseCount(std::string_view text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

struct ContentRange {
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  std::uint32_t total = 0;
};

// The three numbers of "bytes A-B/T", or none for anything else (an unknown total "*" included).
std::optional<ContentRange> ParseContentRange(std::string_view text) {
  text = Trimmed(text);
  constexpr std::string_view kUnit = "bytes";
  if (text.size() <= kUnit.size() || !EqualsIgnoringCase(text.substr(0, kUnit.size()), kUnit)) return std::nullopt;
  text = Trimmed(text.substr(kUnit.size()));
  const std::size_t dash = text.find('-');
  const std::size_t slash = text.find('/');
  if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) return std::nullopt;
  const auto first = ParseCount(Trimmed(text.substr(0, dash)));
  const auto last = ParseCount(Trimmed(text.substr(dash + 1, slash - dash - 1)));
  const auto total = ParseCount(Trimmed(text.substr(slash + 1)));
  if (!first || !last || !total || *last < *first || *last >= *total) return std::nullopt;
  return ContentRange{*first, *last, *total};
}

// An ETag as sent, without the blanks around it.
std::string_view TrimmedTag(const std::string& tag) { return Trimmed(tag); }

}  // namespace

RangeAnswer JudgeRangeAnswer(const RangeResponse& response, std::uint32_t first, const FileVersion& version) {
  constexpr std::uint32_t kOk = 200;
  constexpr std::uint32_t kPartialContent = 206;
  constexpr std::uint32_t kRangeNotSatisfiable = 416;
  if (response.status == kRangeNotSatisfiable) return first != 0 ? RangeAnswer::kStartOver : RangeAnswer::kFailed;
  if (response.status != kOk && response.status != kPartialContent) return RangeAnswer::kFailed;
  if (response.last_modified && !version.last_modified.empty() &&
      !EqualsIgnoringCase(Trimmed(*response.last_modified), version.last_modified)) {
    return RangeAnswer::kStartOver;
  }
  // The ETag is the validator If-Range exists for: with one, only an answer that names it is the
  // version (ETags compare exactly).
  if (!version.etag.empty() && (!response.etag || TrimmedTag(*response.etag) != TrimmedTag(version.etag))) {
    return RangeAnswer::kStartOver;
  }
  if (response.status == kOk) {
    return response.content_length == version.length ? RangeAnswer::kWholeFile : RangeAnswer::kStartOver;
  }
  const auto range = response.content_range ? ParseContentRange(*response.content_range) : std::nullopt;
  return range && range->first == first && range->total == version.length ? RangeAnswer::kPart
                                                                          : RangeAnswer::kStartOver;
}

std::uint64_t AnnouncedBodyLength(const RangeResponse& response, RangeAnswer answer, std::uint32_t first,
                                  std::uint32_t last, const FileVersion& version) {
  if (answer == RangeAnswer::kWholeFile) return version.length;
  if (answer != RangeAnswer::kPart || version.length == 0 || first >= version.length) return 0;
  std::uint32_t end = std::min(last, version.length - 1u);
  if (const auto range = response.content_range ? ParseContentRange(*response.content_range) : std::nullopt) {
    end = std::min(end, range->last);
  }
  if (end < first) return 0;
  std::uint64_t length = static_cast<std::uint64_t>(end) - first + 1u;
  if (response.content_length) length = std::min<std::uint64_t>(length, *response.content_length);
  return length;
}

bool HasValidator(const FileVersion& version) { return !version.etag.empty() || !version.last_modified.empty(); }

std::string IfRangeValidator(const FileVersion& version) {
  const std::string_view etag = TrimmedTag(version.etag);
  if (!etag.empty() && etag.substr(0, 2) != "W/") return std::string(etag);
  return version.last_modified;
}

std::vector<std::string> ParseCertificatePins(std::string_view text) {
  constexpr std::size_t kFingerprintDigits = 64;
  std::vector<std::string> pins;
  std::string entry;
  const auto finish = [&] {
    if (entry.size() == kFingerprintDigits) pins.push_back(entry);
    entry.clear();
  };
  bool valid = true;
  for (const char c : text) {
    if (c == ';' || c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (valid) finish();
      entry.clear();
      valid = true;
    } else if (c == ':') {
      continue;
    } else if ((c >= '0' && c <= '9') || (LowerAscii(c) >= 'a' && LowerAscii(c) <= 'f')) {
      if (entry.size() == kFingerprintDigits) valid = false;  // longer than a fingerprint
      if (valid) entry += LowerAscii(c);
    } else {
      valid = false;
    }
  }
  if (valid) finish();
  return pins;
}

PinValue PinsFromRegistryValue(const RegistryValueData& value) {
  PinValue result;
  std::string text;
  if (value.type == kRegistryText || value.type == kRegistryExpandText) {
    text = value.bytes.substr(0, value.bytes.find('\0'));  // with or without its NUL
  } else if (value.type == kRegistryMultiText) {
    text = value.bytes;
    std::replace(text.begin(), text.end(), '\0', ';');  // each string holds one or more entries
  } else {
    result.problem = "is of type " + std::to_string(value.type) + ", not a text";
    return result;
  }
  result.pins = ParseCertificatePins(text);
  if (result.pins.empty()) result.problem = "holds no valid SHA-256 fingerprint";
  return result;
}

bool StrictCheckFromRegistryValue(const RegistryValueData& value, std::string& problem) {
  problem.clear();
  if (value.type == kRegistryDword && value.bytes.size() == 4) {
    return value.bytes.find_first_not_of('\0') != std::string::npos;
  }
  problem = "is not a REG_DWORD (type " + std::to_string(value.type) + ", " + std::to_string(value.bytes.size()) +
            " bytes)";
  return true;
}

bool IsDownloadIdName(std::string_view name) {
  const std::size_t dash = name.find('-');
  const std::string_view base = name.substr(0, dash);
  const auto digits = [](std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  return digits(base) && (dash == std::string_view::npos || digits(name.substr(dash + 1)));
}

std::string HexText(const unsigned char* bytes, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

}  // namespace vx
