// Posting data to a server: a body held in memory (SEND_DATA, POST_DATA, POST_MULTIPART) or the
// bytes of a file written in pieces (UPLOAD_FILE), with the server's answer handed back (Windows).
//
// Each call opens its own session, connection and POST request and closes them before it returns.
// A failed send or receive is retried on the same connection: 12032 waits 5 s and sends again,
// 12015, 12017 and 12152 replace the request handle once; five counted attempts per request handle.
// Results: 0 (the server answered 200), 407 (the proxy refused the credentials), another HTTP
// status, 13 (nothing to send), or a Windows or WinHTTP error. Runs on the calling thread.
#pragma once

#include <string>

#include "transport/transport_types.h"

namespace vx {

// Posts body. The post size is post_size for POST_MULTIPART when it is above 0 (NUL bytes
// included), otherwise the length of body up to its NUL; a negative post_size is refused with 13.
// SEND_DATA applies gv_httpConnectionTimeout and gv_httpRequestTimeout; POST_MULTIPART adds
// "Content-Type: multipart/form-data". keep_alive picks the Connection header. When out is given
// and the server answered 200, out receives the answer (at most its Content-Length bytes); an
// answer without a Content-Length then makes the result the header query's error (12150). out is
// untouched otherwise.
[[nodiscard]] int InternetSendRequestEx(const ConnectionParameters& parameters, const wchar_t* object_path,
                                        const char* body, std::string* out, int request_type, unsigned char keep_alive,
                                        int post_size);

// Posts the file at file_path (8-bit text, decoded as UTF-8) with a
// "Content-type: multipart/form-data; filesize="<n>"" header, then writes its bytes in pieces of
// chunk_size (64 KiB when chunk_size is 0 or below; pieces never exceed 4 MiB). Every retry sends
// the whole file again from its start. 13 when there is no path, the file is empty or cannot be
// opened, or it is 2 GiB or larger. request_type and keep_alive are not used: the upload always
// keeps its connection alive. out as for InternetSendRequestEx.
[[nodiscard]] int InternetSendRequestByBitRate(const ConnectionParameters& parameters, const wchar_t* object_path,
                                               const char* file_path, std::string* out, int request_type,
                                               unsigned char keep_alive, int chunk_size);

}  // namespace vx
