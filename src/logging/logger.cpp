#include "logging/logger.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <string_view>

#include "base/time_source.h"
#include "logging/address_lock.h"
#include "logging/log_format.h"

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#else
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace vx {
namespace {

// The open log stream; published only after the "Log open time" line is in the file, so that
// line is always the first of a run.
std::atomic<std::FILE*> gv_logFilePtr{nullptr};
std::atomic<std::uint8_t> g_log_level{3};
// Its address is the key of the address lock for every line; a 1-byte heap block as elsewhere in
// the agent, so that the key is unique in the process.
std::atomic<unsigned char*> g_log_lock_token{nullptr};

// Name, directory and full path; changed only by the thread that configures the log, read by
// level calls only through CurrentLogPath().
std::mutex g_settings_mutex;
std::optional<std::string> g_file_name;
std::optional<std::string> g_directory;
std::optional<std::string> g_full_path;

constexpr std::string_view kInfoTag = "[INFO]";
constexpr std::string_view kErrorTag = "[ERROR]";
constexpr std::string_view kDebugTag = "[DEBUG]";
constexpr std::string_view kTraceTag = "[TRACE]";

// Appends value in decimal, zero-padded to width digits (negative values print as 0).
char* PutNumber(char* out, int value, int width) {
  char digits[12];
  int count = 0;
  unsigned remaining = value > 0 ? static_cast<unsigned>(value) : 0u;
  do {
    digits[count++] = static_cast<char>('0' + remaining % 10);
    remaining /= 10;
  } while (remaining != 0);
  for (int i = count; i < width; ++i) *out++ = '0';
  while (count > 0) *out++ = digits[--count];
  return out;
}

char* PutText(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// "%d-%02d-%02d %02d:%02d:%02d:%03d", written by hand: every line carries one. All but the
// milliseconds change at most once a second, so that part is kept per thread and reused.
constexpr std::size_t kTimestampCapacity = 96;
char* PutTimestamp(char* out, const LocalTime& now) {
  struct Cache {
    LocalTime time{-1, -1, -1, -1, -1, -1, 0};
    char text[kTimestampCapacity - 4] = {};
    std::size_t length = 0;
  };
  thread_local Cache cache;
  if (now.second != cache.time.second || now.minute != cache.time.minute || now.hour != cache.time.hour ||
      now.day != cache.time.day || now.month != cache.time.month || now.year != cache.time.year) {
    char* end = PutNumber(cache.text, now.year, 1);
    *end++ = '-';
    end = PutNumber(end, now.month, 2);
    *end++ = '-';
    end = PutNumber(end, now.day, 2);
    *end++ = ' ';
    end = PutNumber(end, now.hour, 2);
    *end++ = ':';
    end = PutNumber(end, now.minute, 2);
    *end++ = ':';
    end = PutNumber(end, now.second, 2);
    *end++ = ':';
    cache.length = static_cast<std::size_t>(end - cache.text);
    cache.time = now;
  }
  out = std::copy(cache.text, cache.text + cache.length, out);
  const auto millisecond = static_cast<unsigned>(now.millisecond > 0 ? now.millisecond % 1000 : 0);
  out[0] = static_cast<char>('0' + millisecond / 100);
  out[1] = static_cast<char>('0' + millisecond / 10 % 10);
  out[2] = static_cast<char>('0' + millisecond % 10);
  return out + 3;
}

// The calling thread's id in decimal, computed once per thread.
const std::string& ThreadIdText() {
  thread_local const std::string text = std::to_string(CurrentThreadId());
  return text;
}

// "[ <timestamp> ] [ <thread id> ] <tag> " into out, which has room for kPrefixCapacity bytes.
constexpr std::size_t kPrefixCapacity = kTimestampCapacity + 64;  // a thread id of 10 digits, a tag
// put_timestamp writes the timestamp at the pointer it is given and returns the end.
template <typename PutTimestampFunction>
char* PutPrefix(char* out, const PutTimestampFunction& put_timestamp, std::string_view tag) {
  const std::string& thread = ThreadIdText();
  out = PutText(out, "[ ");
  out = put_timestamp(out);
  out = PutText(out, " ] [ ");
  out = std::copy(thread.begin(), thread.end(), out);
  out = PutText(out, " ] ");
  out = PutText(out, tag);
  *out++ = ' ';
  return out;
}

// The prefix as a string; a missing timestamp prints as "(null)".
std::string LinePrefix(std::string_view tag, const std::optional<std::string>& timestamp) {
  char prefix[kPrefixCapacity];
  const char* text = timestamp ? timestamp->c_str() : "(null)";
  return std::string(prefix, PutPrefix(prefix, [text](char* out) { return PutText(out, text); }, tag));
}

// The calling thread's line: kPrefixCapacity bytes of room for the prefix, then the text. A buffer
// that a long line grew beyond kLineBufferKept is given back after the line, so one huge line does
// not hold its memory for the rest of the run.
constexpr std::size_t kLineBufferSize = kPrefixCapacity + 512;
constexpr std::size_t kLineBufferKept = 64 * 1024;

// Set when the open log's stream is unbuffered: a line then goes to the file in one write of its
// descriptor (kept here, as asking the stream for it takes the stream's lock) and needs no flush.
std::atomic<bool> g_stream_unbuffered{false};
std::atomic<int> g_log_descriptor{-1};

// Hands a whole line to the file. A failed write or flush is ignored: the log has no place to
// report it.
void WriteLine(std::FILE* file, const char* line, std::size_t size) {
  if (g_stream_unbuffered.load(std::memory_order_relaxed)) {
    // The stream holds no buffer, so its descriptor takes the line whole, as the stream would pass
    // it on, without the stream's bookkeeping. (msvcrt's unbuffered fwrite would also write an odd
    // last byte with a call of its own.) The low-level write appends, and on Windows converts the
    // line end as the text-mode stream does.
    const int descriptor = g_log_descriptor.load(std::memory_order_relaxed);
    while (size > 0) {
#ifdef _WIN32
      const int written = ::_write(descriptor, line, static_cast<unsigned>(size));
#else
      const ssize_t written = ::write(descriptor, line, size);
      if (written < 0 && errno == EINTR) continue;
#endif
      if (written <= 0) return;
      line += written;
      size -= static_cast<std::size_t>(written);
    }
    return;
  }
  (void)std::fwrite(line, 1, size, file);
  (void)std::fflush(file);
}

void WriteLevelLine(std::string_view tag, std::uint8_t threshold, const char* format, std::va_list args) noexcept {
  if (gv_logFilePtr.load(std::memory_order_acquire) == nullptr) return;
  const std::uint8_t level = g_log_level.load(std::memory_order_relaxed);
  if (level == 0 || level < threshold) return;
  const unsigned char* token = g_log_lock_token.load(std::memory_order_acquire);
  if (token == nullptr) return;
  try {
    thread_local std::string line(kLineBufferSize, '\0');
    // The text is formatted before anything is written: a text that cannot be formatted (no
    // memory, an argument the C library refuses) writes no part of the line, so no prefix is ever
    // left to join the next line.
    const int length = FormatIntoBuffer(line, kPrefixCapacity, format, args);
    if (length >= 0) {
      AddressLockGuard lock(token);
      // CloseLog takes the same lock, so a file seen here stays open until the line is written.
      if (std::FILE* file = gv_logFilePtr.load(std::memory_order_acquire)) {
        // The timestamp is taken under the lock, so the lines of all threads are in time order.
        const LocalTime now = Time().LocalNow();
        char prefix[kPrefixCapacity];
        const auto prefix_size = static_cast<std::size_t>(
            PutPrefix(prefix, [&now](char* out) { return PutTimestamp(out, now); }, tag) - prefix);
        // The prefix goes right before the text, and the line out in one piece.
        char* start = line.data() + (kPrefixCapacity - prefix_size);
        std::memcpy(start, prefix, prefix_size);
        WriteLine(file, start, prefix_size + static_cast<std::size_t>(length));
      }
    }
    if (line.size() > kLineBufferKept) std::string(kLineBufferSize, '\0').swap(line);
  } catch (...) {
    // Out of memory: the line is lost, the caller carries on.
  }
}

std::optional<std::string> ParentDirectory(const std::string& path) {
  std::string::size_type end = path.size();
  auto is_separator = [](char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
  };
  while (end > 0 && is_separator(path[end - 1])) --end;
  while (end > 0 && !is_separator(path[end - 1])) --end;
  while (end > 0 && is_separator(path[end - 1])) --end;
  if (end == 0) return std::nullopt;
  return path.substr(0, end);
}

int CreateOneDirectory(const std::string& path) {
#ifdef _WIN32
  const int result = ::_mkdir(path.c_str());
#else
  const int result = ::mkdir(path.c_str(), 0777);
#endif
  if (result == 0) return 0;
  return errno == EEXIST ? 1 : errno;
}

}  // namespace

std::string FormatTextV(const char* format, std::va_list args) {
  std::string text;
  const int length = FormatIntoBuffer(text, 0, format, args);
  if (length <= 0) return {};
  text.resize(static_cast<std::size_t>(length));
  return text;
}

std::string FormatText(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string text = FormatTextV(format, args);
  va_end(args);
  return text;
}

void LogInfo(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  WriteLevelLine(kInfoTag, kInfoThreshold, format, args);
  va_end(args);
}

void LogError(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  WriteLevelLine(kErrorTag, kErrorThreshold, format, args);
  va_end(args);
}

void LogDebug(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  WriteLevelLine(kDebugTag, kDebugThreshold, format, args);
  va_end(args);
}

void LogTrace(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  WriteLevelLine(kTraceTag, kTraceThreshold, format, args);
  va_end(args);
}

bool SetLogDefaults() {
  if (gv_logFilePtr.load() != nullptr) {
    g_log_level = 3;
    return true;
  }
  std::lock_guard<std::mutex> guard(g_settings_mutex);
  if (g_file_name) return true;
  try {
    g_file_name = kDefaultLogFileName;
    auto* token = new unsigned char(0);
    delete g_log_lock_token.exchange(token);
    g_directory.reset();
    g_full_path.reset();
  } catch (...) {
    return false;
  }
  g_log_level = 3;
  return true;
}

bool ConfigureLog(const char* file_name, const char* directory, std::uint32_t level) {
  if (file_name == nullptr || directory == nullptr) return false;
  std::lock_guard<std::mutex> guard(g_settings_mutex);
  try {
    g_file_name = file_name;
    g_directory = directory;
  } catch (...) {
    return false;
  }
  g_log_level = static_cast<std::uint8_t>(level & 0xFFu);
  return true;
}

bool OpenLogAppend() {
  if (gv_logFilePtr.load() != nullptr) {
    LogTrace("gv_logFilePtr already Set\n");
    return true;
  }
  std::string path;
  {
    std::lock_guard<std::mutex> guard(g_settings_mutex);
    if (!g_file_name || !g_directory) return false;
    (void)MakeDirectoryTree(*g_directory);
    path = FormatText("%s/%s", g_directory->c_str(), g_file_name->c_str());
    g_full_path = path;
  }
  std::FILE* file = std::fopen(path.c_str(), "a+");
  if (file == nullptr) return false;
  // Every line is handed to the stream whole and must reach the file at once: without a stream
  // buffer it is written straight from the line buffer, with no copy and no flush.
  g_stream_unbuffered.store(std::setvbuf(file, nullptr, _IONBF, 0) == 0, std::memory_order_relaxed);
#ifdef _WIN32
  g_log_descriptor.store(::_fileno(file), std::memory_order_relaxed);
#else
  g_log_descriptor.store(::fileno(file), std::memory_order_relaxed);
#endif
  const std::optional<std::string> timestamp = GetLogTimestamp();
  const std::string line =
      LinePrefix(kInfoTag, timestamp) + FormatText("Log open time: %s\n", timestamp ? timestamp->c_str() : "(null)");
  WriteLine(file, line.data(), line.size());
  gv_logFilePtr.store(file, std::memory_order_release);
  return true;
}

void CloseLog() {
  const std::optional<std::string> timestamp = GetLogTimestamp();
  const unsigned char* token = g_log_lock_token.load();
  // Waits for a line another thread may be writing, so the stream is never closed under it.
  if (token != nullptr) AcquireAddressLock(token);
  if (std::FILE* file = gv_logFilePtr.exchange(nullptr)) {
    const std::string line =
        LinePrefix(kInfoTag, timestamp) + FormatText("Log close time: %s\n", timestamp ? timestamp->c_str() : "(null)");
    WriteLine(file, line.data(), line.size());
    (void)std::fclose(file);
  }
  if (token != nullptr) ReleaseAddressLock(token);
}

void ReleaseLog() {
  std::lock_guard<std::mutex> guard(g_settings_mutex);
  g_file_name.reset();
  g_directory.reset();
  g_full_path.reset();
  delete g_log_lock_token.exchange(nullptr);
}

bool IsLogOpen() { return gv_logFilePtr.load() != nullptr; }

std::uint8_t CurrentLogLevel() { return g_log_level.load(); }

std::optional<std::string> CurrentLogPath() {
  if (!IsLogOpen()) return std::nullopt;
  std::lock_guard<std::mutex> guard(g_settings_mutex);
  return g_full_path;
}

const void* LogLockToken() { return g_log_lock_token.load(); }

std::optional<std::string> GetLogTimestamp() {
  char text[kTimestampCapacity];
  char* end = PutTimestamp(text, Time().LocalNow());
  try {
    return std::string(text, end);
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

int MakeDirectoryTree(const std::string& path) {
  const int result = CreateOneDirectory(path);
  if (result != ENOENT) return result;
  const std::optional<std::string> parent = ParentDirectory(path);
  if (!parent) return result;
  const int parent_result = MakeDirectoryTree(*parent);
  // "Already present" can only mean another process created the parent meanwhile: go on too.
  if (parent_result != 0 && parent_result != 1) return parent_result;
  return CreateOneDirectory(path);
}

void AppendFormattedToFile(const char* path, const char* format, ...) {
  if (path == nullptr || format == nullptr) return;
  std::FILE* file = std::fopen(path, "a");
  if (file == nullptr) return;
  std::va_list args;
  va_start(args, format);
  try {
    const std::string text = FormatTextV(format, args);
    (void)std::fwrite(text.data(), 1, text.size(), file);
  } catch (...) {
  }
  va_end(args);
  (void)std::fclose(file);
}

void CreateFileWithHeader(const char* path, const char* header) {
  if (path == nullptr) return;
  if (std::FILE* existing = std::fopen(path, "rb")) {
    (void)std::fclose(existing);
    return;
  }
  std::FILE* file = std::fopen(path, "a");
  if (file == nullptr) return;
  if (header != nullptr) (void)std::fputs(header, file);
  (void)std::fclose(file);
}

}  // namespace vx
