// The agent library's single entry for talking to its servers (Windows).
//
// A request goes to the management server or the distribution server, its path rewritten for the
// product, and fails over across the server's addresses; the address that answered becomes the
// server's last access name, in memory and in the registry. Main thread only: it reads the agent
// configuration record and replaces the last access name without locking.
#pragma once

#include <string>

#include "transport/transport_types.h"

namespace vx {

// Sends one request. path is server-relative (8-bit UTF-8; backslashes become slashes). data is the
// destination path of a download (UTF-8) or the body of an upload; out receives GET_DATA content
// and upload answers. to_server 1 forces the management server. size is the body length of
// POST_MULTIPART and the chunk length of UPLOAD_FILE. transfer_mode picks the whole (0),
// rate-limited (1) or no (2) download. Returns 0, 90001, an HTTP status, a Windows or WinHTTP error,
// or the transport's own codes; 12007 when no address could be tried.
[[nodiscard]] int AgentSendRequest(const char* path, const char* data, std::string* out, int request_type,
                                   unsigned char keep_alive, unsigned char to_server, int size, int transfer_mode);

// A GET_DATA request to the management server: on 0, out holds the downloaded text.
[[nodiscard]] int AgentGetData(const char* path, std::string* out, unsigned char keep_alive);

// Makes the agent library's resource-identifier lookup use AgentGetData. Call once at start-up,
// after InstallLibraryServices. Idempotent.
void InstallTransportServices();

}  // namespace vx
