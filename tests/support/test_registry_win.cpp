#include "test_registry_win.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "base/unique_handle_win.h"

namespace vx::test {

bool DeleteTree(const char* path, REGSAM view) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
    ::RegDeleteTreeA(key, nullptr);
    ::RegCloseKey(key);
    ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, path, view, 0);
  }
  return !KeyExists(path, view);
}

void SetValue(const char* path, const char* name, DWORD type, std::string_view bytes, REGSAM view) {
  HKEY key = nullptr;
  LSTATUS status = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key,
                                     nullptr);
  if (status != ERROR_SUCCESS) throw std::runtime_error("cannot create test key " + std::string(path));
  status = ::RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                            static_cast<DWORD>(bytes.size()));
  ::RegCloseKey(key);
  if (status != ERROR_SUCCESS) throw std::runtime_error("cannot set test value " + std::string(name));
}

void SetString(const char* path, const char* name, std::string_view text, REGSAM view) {
  std::string bytes(text);
  bytes.push_back('\0');
  SetValue(path, name, REG_SZ, bytes, view);
}

void SetDword(const char* path, const char* name, DWORD value, REGSAM view) {
  SetValue(path, name, REG_DWORD, std::string_view(reinterpret_cast<const char*>(&value), sizeof(value)), view);
}

std::optional<StoredValue> GetValue(const char* path, const char* name, REGSAM view) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  StoredValue value;
  DWORD size = 0;
  LSTATUS status = ::RegQueryValueExA(key, name, nullptr, &value.type, nullptr, &size);
  if (status == ERROR_SUCCESS) {
    value.bytes.assign(size, '\0');
    status = ::RegQueryValueExA(key, name, nullptr, &value.type, reinterpret_cast<BYTE*>(value.bytes.data()), &size);
    value.bytes.resize(size);
  }
  ::RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::nullopt;
  return value;
}

std::optional<DWORD> GetDword(const char* path, const char* name, REGSAM view) {
  const std::optional<StoredValue> value = GetValue(path, name, view);
  if (!value || value->type != REG_DWORD || value->bytes.size() != sizeof(DWORD)) return std::nullopt;
  DWORD number = 0;
  std::memcpy(&number, value->bytes.data(), sizeof(number));
  return number;
}

std::optional<std::string> GetText(const char* path, const char* name, REGSAM view) {
  const std::optional<StoredValue> value = GetValue(path, name, view);
  if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) return std::nullopt;
  return std::string(value->bytes.c_str());
}

bool KeyExists(const char* path, REGSAM view) {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
  ::RegCloseKey(key);
  return true;
}

std::vector<std::string> SubkeyNames(const char* path, REGSAM view) {
  UniqueHKey key;
  std::vector<std::string> names;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | view, key.put()) != ERROR_SUCCESS) return names;
  char name[256];
  for (DWORD index = 0, length = sizeof(name);
       ::RegEnumKeyExA(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
       ++index, length = sizeof(name)) {
    names.emplace_back(name, length);
  }
  return names;
}

ScopedCleanRegistry::ScopedCleanRegistry() { Clean(); }
ScopedCleanRegistry::~ScopedCleanRegistry() { Clean(); }

void ScopedCleanRegistry::Clean() {
  for (REGSAM view : {kView32, kView64}) {
    DeleteTree(kTestNorvaneKey, view);
    DeleteTree(kTestSqlServer120Key, view);
  }
}

}  // namespace vx::test
