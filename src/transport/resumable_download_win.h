// Resumable downloads (Windows): the body is gathered in memory and appended to a partial file
// whenever the buffer is full, so that a download interrupted by a network failure or by the end of
// the process continues later from the bytes already saved, as long as the server's file is
// unchanged (same Last-Modified text) and the partial file still has the recorded size.
//
// The finished file is put in place of the destination (DOWNLOAD_FILE) or read into out (GET_DATA),
// and every download that got past its range request leaves a line in a transfer access log.
// Results as for the whole downloads: 0, 90001, 707, 6, 13, an HTTP status, or a Windows or WinHTTP
// error code.
#pragma once

#include <string>

#include "transport/transport_types.h"

namespace vx {

// A GET for the length and the Last-Modified text, then one ranged GET for the rest, recovering
// from a broken connection with a new range request. An incomplete download is counted in the
// registry and in the agent's error log.
[[nodiscard]] int ResumeGetRequestEx(const ConnectionParameters& parameters, const wchar_t* object_path,
                                     const wchar_t* destination, std::string* out, int request_type,
                                     unsigned char keep_alive);

// The same first GET, then ranged blocks of gv_dataTransferRateKBps x 500 bytes, paced like the
// rate-limited whole download.
[[nodiscard]] int ResumeGetRequestByBitrate(const ConnectionParameters& parameters, const wchar_t* object_path,
                                            const wchar_t* destination, std::string* out, int request_type,
                                            unsigned char keep_alive);

}  // namespace vx
