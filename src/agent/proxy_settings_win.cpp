// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

#include "agent/agent_config.h"
#include "agent/agent_config_internal.h"
#include "agent/base64.h"
#include "agent/proxy_settings.h"
#include "base/unique_crypt_win.h"
#include "logging/logger.h"

namespace vx {
namespace {

constexpr const char* kBaseProvider = "Microsoft Base Cryptographic Provider v1.0";
constexpr const char* kHiddenSecret = "********";

// What the log shows of a secret: whether there is one, never its text.
const char* MaskedSecret(const OptionalText& secret) {
  if (!secret) return "(null)";
  return secret->empty() ? "" : kHiddenSecret;
}

// Makes sure the context has a key pair of the given kind: 1 when it has or now has one.
int EnsureUserKey(HCRYPTPROV provider, DWORD key_spec) {
  UniqueCryptKey key;
  if (::CryptGetUserKey(provider, key_spec, key.put())) return 1;
  if (static_cast<DWORD>(::GetLastError()) != static_cast<DWORD>(NTE_NO_KEY)) return 0;
  return ::CryptGenKey(provider, key_spec, 0, key.put()) ? 1 : 0;
}

}  // namespace

int CheckCryptographicClient() {
  UniqueCryptProvider provider;
  if (!::CryptAcquireContextA(provider.put(), nullptr, kBaseProvider, PROV_RSA_FULL, 0) &&
      !::CryptAcquireContextA(provider.put(), nullptr, kBaseProvider, PROV_RSA_FULL, CRYPT_NEWKEYSET)) {
    return 0;
  }
  return EnsureUserKey(provider.get(), AT_SIGNATURE) && EnsureUserKey(provider.get(), AT_KEYEXCHANGE) ? 1 : 0;
}

int InitializeProxyDetails() {
  LogDebug(CheckCryptographicClient() == 1 ? "Cryptographic client Ok\r\n" : "Cryptographic client error\r\n");

  (void)ReadAgentText(kAgentRootKey, "ProxyUserName", gv_proxyUserName);
  OptionalText stored_password;
  (void)ReadAgentText(kAgentRootKey, "ProxyPassword", stored_password);
  LogDebug("Password from registry: %s\n", MaskedSecret(stored_password));
  (void)ReadAgentText(kAgentRootKey, "ProxyServerName", gv_proxyServerName);
  (void)ReadAgentText(kAgentRootKey, "ProxyByPass", gv_proxyByPass);

  LogDebug("Encrypted password is: %s\n", MaskedSecret(stored_password));
  std::optional<std::string> decoded;
  if (stored_password) decoded = DecodeBase64(*stored_password);
  if (!stored_password) {
    LogError("InitializeProxyDetails : No proxy password in the registry, an empty password is used \n");
  } else if (!decoded) {
    LogError(
        "InitializeProxyDetails : The proxy password in the registry is not valid Base64, an empty password is used "
        "\n");
  }
  // The password ends at its first zero byte.
  gv_proxyPassword = decoded ? std::string(decoded->c_str()) : std::string();
  LogDebug("Decrypted password is: %s\n", MaskedSecret(gv_proxyPassword));

  if (EqualsNoCase(gv_proxyEnabled, "yes")) {
    LogInfo("*********************************************************** \n");
    LogInfo("Proxy Server Name -> %s \n", LogText(gv_proxyServerName));
    LogInfo("Proxy UserName    -> %s \n", LogText(gv_proxyUserName));
    LogInfo("Proxy ByPass List -> %s \n", LogText(gv_proxyByPass));
    LogInfo("*********************************************************** \n");
  }
  return 0;
}

}  // namespace vx
