// Downloading one file from a server through a temporary file, whole or in rate-limited blocks,
// into a destination file (DOWNLOAD_FILE) or into memory (GET_DATA) (Windows).
//
// Each call owns its temporary file from creation to deletion; the file never outlives the call.
// Results: 0, 90001 (not modified), 707 (body shorter or longer than announced), 6 (GET_DATA data
// could not be read back), 13 (missing argument), 412 (the server's file changed again after the
// download started over for it), an HTTP status, or a Windows or WinHTTP error.
//
// Ranged requests carry If-Range with the first answer's strongest validator (its ETag, else its
// Last-Modified text), and an answer is read only when it continues the version and length being
// received; otherwise the download starts over from byte 0 for the version the server has now, once
// per call. A finished file is one version, except where the server sends no validator at all (then
// a file replaced by one of the same length cannot be seen; the log says so). No body is read past
// the length its answer announced (the Content-Length of a 200, 0 when it is absent; the end of the
// requested range of a 206): a byte more ends the download with 707 and nothing handed over.
//
// Thread-safety: each call uses only its own handles, temporary file and buffers, and may run on any
// thread; calls on several threads at once are safe as long as they do not share a destination.
// The agent configuration values read here are set before any transfer and not changed after.
#pragma once

#include <string>

#include "transport/transport_types.h"

namespace vx {

// One GET. For GET_DATA, out receives the file's text on 0 (CR LF read as LF, up to the first
// NUL); for DOWNLOAD_FILE the destination holds the file on 0 and is never touched otherwise. With
// accept_gzip the server may send a gzip body, which is kept as received.
[[nodiscard]] int InternetGetRequestEx(const ConnectionParameters& parameters, const wchar_t* object_path,
                                       const wchar_t* destination, std::string* out, int request_type,
                                       unsigned char keep_alive, unsigned char accept_gzip);

// A HEAD for the length, then ranged GETs of gv_dataTransferRateKBps x 500 bytes, each paced to
// at least 600 ms; each block is a new request on a new session.
[[nodiscard]] int InternetGetRequestByBitrate(const ConnectionParameters& parameters, const wchar_t* object_path,
                                              const wchar_t* destination, std::string* out, int request_type,
                                              unsigned char keep_alive);

}  // namespace vx
