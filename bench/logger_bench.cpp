// Lines per second of the process log (vx::LogInfo, one flush per line) against the floor of a
// plain loop that writes and flushes a preformatted line of the same size (fwrite + fflush on a
// stream opened the same way; with several threads the loop's threads share one std::mutex around
// write and flush). Both run in this process, alternately, so that they see the same machine
// load; each figure is the median of the repetitions.
//
// Usage: vxbench_logger DIRECTORY [LINES [REPETITIONS [THREADS]]]
//   (defaults: 1000000 lines, 5 repetitions, thread counts 1 and 2; THREADS 1 or 2 runs that count
//   alone, e.g. under callgrind for the instructions per line)
// Prints one result line per thread count:
//   threads=<n> lines=<n> loop_lines_per_s=<x> log_lines_per_s=<y> ratio=<y/x> ...
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/time_source.h"
#include "logging/logger.h"

namespace {

constexpr std::size_t kLineSize = 100;  // bytes per line including the LF
constexpr const char* kLogFileName = "vxbench_logger.log";
constexpr const char* kLoopFileName = "vxbench_loop.log";

std::string JoinPath(const std::string& directory, const char* name) { return directory + "/" + name; }

long FileSize(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return -1;
  std::fseek(file, 0, SEEK_END);
  const long size = std::ftell(file);
  std::fclose(file);
  return size;
}

// The lines each of thread_count threads writes so that together they write lines.
std::vector<long> SplitLines(long lines, int thread_count) {
  std::vector<long> shares(static_cast<std::size_t>(thread_count), lines / thread_count);
  shares[0] += lines % thread_count;
  return shares;
}

template <typename Body>
double TimeThreads(int thread_count, long lines, const Body& body) {
  const std::vector<long> shares = SplitLines(lines, thread_count);
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int t = 0; t < thread_count; ++t) threads.emplace_back(body, shares[static_cast<std::size_t>(t)]);
  for (std::thread& thread : threads) thread.join();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The reference: a preformatted line, written and flushed.
double RunLoop(const std::string& directory, int thread_count, long lines) {
  const std::string path = JoinPath(directory, kLoopFileName);
  std::FILE* file = std::fopen(path.c_str(), "a+");
  if (file == nullptr) {
    std::perror(path.c_str());
    std::exit(2);
  }
  std::string line = "[ 2022-05-16 23:59:58:911 ] [ 4242 ] [INFO] benchmark line 0000000: ";
  line.append(kLineSize - 1 - line.size(), 'x');
  line += '\n';
  std::mutex mutex;
  const double seconds = TimeThreads(thread_count, lines, [&](long count) {
    for (long i = 0; i < count; ++i) {
      std::lock_guard<std::mutex> guard(mutex);
      (void)std::fwrite(line.data(), 1, line.size(), file);
      (void)std::fflush(file);
    }
  });
  std::fclose(file);
  return seconds;
}

// Ours: one LogInfo call per line, its text padded so that the whole line is kLineSize bytes.
double RunLogger(const std::string& directory, int thread_count, long lines) {
  if (!vx::SetLogDefaults() || !vx::ConfigureLog(kLogFileName, directory.c_str(), vx::kInfoThreshold) ||
      !vx::OpenLogAppend()) {
    std::fprintf(stderr, "cannot open the log in %s\n", directory.c_str());
    std::exit(2);
  }
  const double seconds = TimeThreads(thread_count, lines, [](long count) {
    // Prefix "[ <timestamp> ] [ <thread id> ] [INFO] " + "benchmark line 0000000: " + filler + LF.
    const std::string prefix = vx::FormatText("[ %s ] [ %lu ] [INFO] ", "2022-05-16 23:59:58:911",
                                              static_cast<unsigned long>(vx::CurrentThreadId()));
    const std::size_t fixed = prefix.size() + 24 + 1;
    const std::string filler(fixed < kLineSize ? kLineSize - fixed : 1, 'x');
    for (long i = 0; i < count; ++i) {
      vx::LogInfo("benchmark line %07ld: %s\n", i % 10000000, filler.c_str());
    }
  });
  vx::CloseLog();
  vx::ReleaseLog();
  return seconds;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 5) {
    std::fprintf(stderr, "usage: %s DIRECTORY [LINES [REPETITIONS [THREADS]]]\n", argv[0]);
    return 2;
  }
  const std::string directory = argv[1];
  const long lines = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 1000000;
  const int repetitions = argc > 3 ? std::atoi(argv[3]) : 5;
  const int only_threads = argc > 4 ? std::atoi(argv[4]) : 0;
  if (lines <= 0 || repetitions <= 0 || only_threads < 0 || only_threads > 2) {
    std::fprintf(stderr, "LINES and REPETITIONS must be positive, THREADS 1 or 2\n");
    return 2;
  }
  (void)vx::MakeDirectoryTree(directory);
  const std::string log_path = JoinPath(directory, kLogFileName);
  const std::string loop_path = JoinPath(directory, kLoopFileName);

  for (int thread_count : {1, 2}) {
    if (only_threads != 0 && thread_count != only_threads) continue;
    std::vector<double> loop_seconds;
    std::vector<double> log_seconds;
    long loop_bytes = 0;
    long log_bytes = 0;
    for (int r = 0; r < repetitions; ++r) {
      std::remove(loop_path.c_str());
      std::remove(log_path.c_str());
      // Alternate the order so that neither always runs while the other's file is being written back.
      if (r % 2 == 0) {
        loop_seconds.push_back(RunLoop(directory, thread_count, lines));
        log_seconds.push_back(RunLogger(directory, thread_count, lines));
      } else {
        log_seconds.push_back(RunLogger(directory, thread_count, lines));
        loop_seconds.push_back(RunLoop(directory, thread_count, lines));
      }
      loop_bytes = FileSize(loop_path);
      log_bytes = FileSize(log_path);
    }
    std::remove(loop_path.c_str());
    std::remove(log_path.c_str());
    const double loop_rate = static_cast<double>(lines) / Median(loop_seconds);
    const double log_rate = static_cast<double>(lines) / Median(log_seconds);
    std::printf(
        "threads=%d lines=%ld repetitions=%d loop_lines_per_s=%.0f log_lines_per_s=%.0f ratio=%.3f "
        "loop_median_s=%.3f log_median_s=%.3f loop_bytes_per_line=%.1f log_bytes_per_line=%.1f\n",
        thread_count, lines, repetitions, loop_rate, log_rate, log_rate / loop_rate, Median(loop_seconds),
        Median(log_seconds), static_cast<double>(loop_bytes) / static_cast<double>(lines),
        static_cast<double>(log_bytes) / static_cast<double>(lines + 2));
    std::fflush(stdout);
  }
  return 0;
}
