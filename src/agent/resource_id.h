// The agent's resource identifier: from the registry, or else from the management server's
// document for this computer, looked up in the table store (Windows).
//
// Main thread only, while the configuration record loads.
#pragma once

#include <string>

#include "agent/agent_config.h"

namespace vx {

// Fetches a server-relative path from the management server into out: 0 or the transport's code.
using ResourceDocumentFetcher = int (*)(const char* path, std::string* out, unsigned char keep_alive);

// The transport hands its fetcher down at start-up (the agent library cannot depend on the
// transport, which depends on it). Without one, the server lookup fails with 13.
void SetResourceDocumentFetcher(ResourceDocumentFetcher fetcher);

// The path of this computer's resource document: "/<client path>/resources/<computer name>.xml",
// the client path being client_data_path with every namespace occurrence (any case) replaced by
// domain_name, lower-cased, and the computer name lower-cased (Unicode rules). Without a domain name
// the data path is only lower-cased. Logs each step.
[[nodiscard]] std::string ResourceDocumentPath(const std::string& client_data_path, const OptionalText& name_space,
                                               const OptionalText& domain_name, const std::string& computer_name);

// Asks the server for the document, loads it into the table store and stores the identifier it
// names in out, the registry, and tells the agent service. 0 when the lookup ran to its end (with or
// without an identifier), the transport's code, or the error of a failed load.
[[nodiscard]] int GetResourceIDFromServer(OptionalText& out);

}  // namespace vx
