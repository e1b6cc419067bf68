// Proxy settings of the agent configuration record (Windows). Main thread, during loading.
#pragma once

namespace vx {

// Loads the proxy's user name, password (stored as Base64), server name and bypass list from the
// agent root key. Always 0: every failure is logged and leaves its field as the rules say. An absent
// or invalid password gives an empty one. The password never reaches the log in clear.
int InitializeProxyDetails();

// 1 when the CryptoAPI base provider and the user's key pairs are usable, else 0. May create the
// user's default key container and its key pairs.
int CheckCryptographicClient();

}  // namespace vx
