#include "platform/registry.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "logging/logger.h"
#include "platform/text_conversion.h"

namespace vx {
namespace {

constexpr REGSAM kViewBits = KEY_WOW64_64KEY | KEY_WOW64_32KEY;
constexpr const char* kDefaultValueMarker = "--";
constexpr DWORD kViewStringBufferSize = 2048;
constexpr const wchar_t* kDefaultValueMarkerWide = L"--";

bool IsDefaultValueMarker(const char* name) { return name != nullptr && _stricmp(name, kDefaultValueMarker) == 0; }

// Signed decimal as the C library reads it: leading blanks, optional sign, digits up to the first
// other character; no digits gives 0. Out-of-range values wrap to the stored width.
long long ParseDecimal(const std::wstring& text) {
  errno = 0;
  wchar_t* end = nullptr;
  const long long value = std::wcstoll(text.c_str(), &end, 10);
  if (errno == ERANGE) return text.find(L'-') != std::wstring::npos ? LLONG_MIN : LLONG_MAX;
  return value;
}

// The bytes that writeValue stores for the UTF-16 data under the given type.
std::vector<BYTE> ValueBytes(const std::wstring& data, DWORD type) {
  std::vector<BYTE> bytes;
  if (type == REG_DWORD) {
    const DWORD number = static_cast<DWORD>(static_cast<long>(ParseDecimal(data)));
    bytes.resize(sizeof(number));
    std::memcpy(bytes.data(), &number, sizeof(number));
    LogDebug("writeValue:  REG_DWORD -- sizeOfInputData: %d\n", static_cast<int>(bytes.size()));
    return bytes;
  }
  if (type == REG_QWORD) {
    const unsigned long long number = static_cast<unsigned long long>(ParseDecimal(data));
    bytes.resize(sizeof(number));
    std::memcpy(bytes.data(), &number, sizeof(number));
    return bytes;
  }
  // Text with its NUL; a multi-string list ends with one more NUL.
  const std::size_t characters = data.size() + (type == REG_MULTI_SZ ? 2 : 1);
  bytes.assign(characters * sizeof(wchar_t), 0);
  for (std::size_t i = 0; i < data.size(); ++i) {  // UTF-16LE, as the registry stores it
    bytes[2 * i] = static_cast<BYTE>(data[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<BYTE>((data[i] >> 8) & 0xFF);
  }
  if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_BINARY) {
    LogDebug("writeValue:  Data type is REG_SZ or REG_EXPAND_SZ or REG_BINARY: %d\n", static_cast<int>(bytes.size()));
  }
  return bytes;
}

}  // namespace

std::string RegistryText(const std::string& bytes) { return std::string(bytes.c_str()); }

LSTATUS ReadRegSZView(const char* keyPath, const char* valueName, std::string& value, bool use64BitView) {
  RegistryKey key;
  const REGSAM access = KEY_READ | (use64BitView ? KEY_WOW64_64KEY : KEY_WOW64_32KEY);
  if (const LSTATUS status = key.OpenKey(HKEY_LOCAL_MACHINE, keyPath, access); status != ERROR_SUCCESS) return status;
  DWORD type = REG_NONE;
  std::string bytes;
  if (const LSTATUS status = key.ReadWholeValue(valueName, kViewStringBufferSize, type, bytes);
      status != ERROR_SUCCESS) {
    return status;
  }
  if ((type != REG_SZ && type != REG_EXPAND_SZ) || (!bytes.empty() && bytes.back() != '\0')) return ERROR_INVALID_DATA;
  value.assign(bytes.c_str());
  return ERROR_SUCCESS;
}

LSTATUS addRegistryKey(HKEY root, const char* path) {
  LogDebug("addRegistryKey: Inside addRegistryKey method ...... \n");
  RegistryKey key;
  DWORD disposition = 0;
  const LSTATUS status = key.CreateKey(root, path, KEY_ALL_ACCESS | kAgentRegistryView, &disposition);
  if (status != ERROR_SUCCESS) {
    LogError("addRegistryKey:  Create registry key \"%s\" function failed: %d \n", path, static_cast<int>(status));
    LogErrorText(static_cast<std::uint32_t>(status));
    return status;
  }
  if (disposition == REG_CREATED_NEW_KEY) {
    LogDebug("addRegistryKey:  Create registry key function successfull: %d \n", static_cast<int>(disposition));
  } else {
    LogDebug("addRegistryKey:  Opened already existing key! \n");
  }
  return ERROR_SUCCESS;
}

LSTATUS writeValue(HKEY root, const char* path, const char* name, const char* data, DWORD type) {
  LogDebug("@@@@@@@@ Inside writeValue Method @@@@@@@@ \n");
  if (name == nullptr || data == nullptr) {
    LogInfo("writeValue : Valuename or Valuedata is Empty \n");
    return ERROR_INVALID_DATA;
  }
  LogDebug("writeValue: Subkey : %s \n", path);
  LogDebug("writeValue: Value Name: %s \n", name);
  LogDebug("writeValue: Value Data: %s \n", data);

  std::wstring wide_name;
  std::wstring wide_data;
  if (!ChangeUtf8ToWideStr(name, wide_name) || !ChangeUtf8ToWideStr(data, wide_data)) return ERROR_INVALID_DATA;
  if (IsDefaultValueMarker(name)) {
    LogInfo("writeValue : going to add the (default) value .\n");
    wide_name.clear();
  }
  if (std::strcmp(data, kDefaultValueMarker) == 0) {
    LogInfo("writeValue : going to add the value data as 0 value .\n");
    wide_data.clear();
  }
  const std::vector<BYTE> bytes = ValueBytes(wide_data, type);

  if (const LSTATUS status = addRegistryKey(root, path); status != ERROR_SUCCESS) {
    LogError("writeValue:  WriteValue failure during key creation! %d \n", static_cast<int>(status));
    return status;
  }
  RegistryKey key;
  if (const LSTATUS status = key.OpenKey(root, path, KEY_ALL_ACCESS | kAgentRegistryView); status != ERROR_SUCCESS) {
    LogError("writeValue:  Key open failure! %d \n", static_cast<int>(status));
    LogErrorText(static_cast<std::uint32_t>(status));
    return status;
  }
  LogDebug("writeValue:  Key found ...!: %d\n", 0);
  LogDebug("writeValue:  After addRegistryKey method in writeValue method!!\n");

  const LSTATUS status =
      ::RegSetValueExW(key.handle(), wide_name.c_str(), 0, type, bytes.data(), static_cast<DWORD>(bytes.size()));
  if (status == ERROR_SUCCESS) {
    LogErrorText(0);
    key.CloseKey();
    LogDebug("@@@@@@@@ End Of writeValue Method @@@@@@@@ \n");
    return ERROR_SUCCESS;
  }
  LogError("writeValue:  Function WriteValue failure!:%d\n", static_cast<int>(status));
  LogError("writeValue:    Subkey: %s \n", path);
  LogError("writeValue:    Valuename: %ls \n", wide_name.c_str());
  LogError("writeValue:    Valuedata: %ls \n", wide_data.c_str());
  LogError("writeValue:    Datatype: %d \n", static_cast<int>(type));
  LogErrorText(static_cast<std::uint32_t>(status));
  key.CloseKey();
  return status;
}

LSTATUS deleteValue(HKEY root, const char* path, const char* name) {
  LogDebug("deleteValue: Inside function deleteValue ..... \n");
  const char* value_name = name;
  if (IsDefaultValueMarker(name)) {
    LogInfo("deleteValue : going to delete the (default) value .\n");
    value_name = "";
  }
  RegistryKey key;
  if (const LSTATUS status = key.OpenKey(root, path, KEY_ALL_ACCESS | kAgentRegistryView); status != ERROR_SUCCESS) {
    LogError("deleteValue:  %s Key not found!: %d  \n", path, static_cast<int>(status));
    LogLastErrorText();
    return status;
  }
  LogInfo("deleteValue:  Key found ...!: %d\n", 0);
  const LSTATUS status = ::RegDeleteValueA(key.handle(), value_name);
  if (status == ERROR_SUCCESS) {
    LogInfo("deleteValue:  Delete value %s success! \n", name);
    key.CloseKey();
    return ERROR_SUCCESS;
  }
  LogError("deleteValue:  Delete value %s failure! \n", name);
  key.CloseKey();
  LogLastErrorText();
  return status;
}

LSTATUS deleteValue(HKEY root, const wchar_t* path, const wchar_t* name) {
  LogDebug("deleteValue: Inside function deleteValue ..... subkey : %ls, Valuename : %ls \n", path, name);
  const wchar_t* value_name = name;
  if (name != nullptr && _wcsicmp(name, kDefaultValueMarkerWide) == 0) {
    LogInfo("deleteValue : going to delete the (default) value .\n");
    value_name = L"";
  }
  UniqueHKey key;
  if (const LSTATUS status = ::RegOpenKeyExW(root, path, 0, KEY_ALL_ACCESS | kAgentRegistryView, key.put());
      status != ERROR_SUCCESS) {
    LogError("deleteValue:  %ls Key not found!: %d  \n", path, static_cast<int>(status));
    LogLastErrorText();
    return status;
  }
  LogInfo("deleteValue:  Key found ...!: %d\n", 0);
  const LSTATUS status = ::RegDeleteValueW(key.get(), value_name);
  if (status == ERROR_SUCCESS) {
    LogInfo("deleteValue:  Delete value %ls success! \n", name);
    return ERROR_SUCCESS;
  }
  LogError("deleteValue:  Delete value %ls failure! \n", name);
  key.reset();
  LogLastErrorText();
  return status;
}

LSTATUS ReadDwordRegistryData(HKEY root, const char* path, const char* name, DWORD* value) {
  RegistryKey key;
  if (const LSTATUS status = key.OpenKey(root, path, KEY_QUERY_VALUE | kAgentRegistryView); status != ERROR_SUCCESS) {
    if (status == ERROR_FILE_NOT_FOUND) {
      LogDebug("ReadDwordRegistryData:  value  %s Not found: %d \n", name, static_cast<int>(status));
    } else {
      LogError("ReadDwordRegistryData: Error while opening registry key %s,and the errorcode is : %d \n", path,
               static_cast<int>(status));
    }
    return status;
  }
  if (value == nullptr) return ERROR_INVALID_DATA;
  DWORD size = sizeof(DWORD);
  const LSTATUS status =
      ::RegQueryValueExA(key.handle(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
  if (status == ERROR_FILE_NOT_FOUND) {
    LogDebug("ReadDwordRegistryData:  value  %s Not found: %d \n", name, static_cast<int>(status));
  } else if (status != ERROR_SUCCESS) {
    LogError("ReadDwordRegistryData: Error while reading DWORD value of %s : %d \n", name, static_cast<int>(status));
  }
  return status;
}

LSTATUS ReadRegSZ(HKEY root, const char* path, const char* name, std::optional<std::string>& out) {
  out.reset();
  RegistryKey key;
  if (const LSTATUS status = key.OpenKey(root, path, KEY_QUERY_VALUE | kAgentRegistryView); status != ERROR_SUCCESS) {
    LogError("ReadRegSZ: Error while opening registry key %s ,and the error is  %d \n", path, static_cast<int>(status));
    return status;
  }
  DWORD size = 0;
  if (const LSTATUS status = ::RegQueryValueExA(key.handle(), name, nullptr, nullptr, nullptr, &size);
      status != ERROR_SUCCESS) {
    return status;
  }
  // Room for the data plus five zero bytes, which end it as 8-bit or UTF-16 text whatever it was.
  std::vector<char> buffer(static_cast<std::size_t>(size) + 5, '\0');
  DWORD read_size = size;
  const LSTATUS status =
      ::RegQueryValueExA(key.handle(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()), &read_size);
  out.emplace(buffer.data(), status == ERROR_SUCCESS ? read_size : size);
  if (status != ERROR_SUCCESS) {
    LogError("ReadRegSZ: Error while reading DWORD value! %d \n", static_cast<int>(status));
  }
  return status;
}

LSTATUS ReadRegSZEx(HKEY root, const char* path, const char* name, std::optional<std::wstring>& out) {
  out.reset();
  std::wstring wide_name;
  if (!ChangeUtf8ToWideStr(name, wide_name)) return ERROR_INVALID_DATA;
  RegistryKey key;
  if (const LSTATUS status = key.OpenKey(root, path, KEY_QUERY_VALUE | kAgentRegistryView); status != ERROR_SUCCESS) {
    std::wstring wide_path;
    (void)ChangeToWideStr(path, wide_path);
    LogError("ReadRegSZEx: Error while opening registry key : %ls \n", wide_path.c_str());
    return status;
  }
  DWORD size = 0;
  if (const LSTATUS status = ::RegQueryValueExW(key.handle(), wide_name.c_str(), nullptr, nullptr, nullptr, &size);
      status != ERROR_SUCCESS) {
    return status;
  }
  std::vector<BYTE> buffer(static_cast<std::size_t>(size) + 5, 0);
  DWORD read_size = size;
  const LSTATUS status =
      ::RegQueryValueExW(key.handle(), wide_name.c_str(), nullptr, nullptr, buffer.data(), &read_size);
  const DWORD kept = status == ERROR_SUCCESS ? read_size : size;
  std::wstring units(kept / sizeof(wchar_t), L'\0');
  std::memcpy(units.data(), buffer.data(), units.size() * sizeof(wchar_t));
  out = std::move(units);
  if (status != ERROR_SUCCESS) {
    LogError("ReadRegSZEx: Error while reading DWORD value! %d \n", static_cast<int>(status));
  }
  return status;
}

int DeleteRegistryKeyTree(HKEY root, const char* path) {
  if (path == nullptr) return 0;
  {
    UniqueHKey key;
    if (::RegOpenKeyExA(root, path, 0, KEY_READ | kAgentRegistryView, key.put()) == ERROR_SUCCESS) {
      char subkey[260];
      while (::RegEnumKeyA(key.get(), 0, subkey, sizeof(subkey)) == ERROR_SUCCESS) {
        if (DeleteRegistryKeyTree(key.get(), subkey) == 0) return 0;
      }
    }
  }
  return ::RegDeleteKeyExA(root, path, kAgentRegistryView, 0) == ERROR_SUCCESS ? 1 : 0;
}

LSTATUS RegistryKey::OpenKey(HKEY root, const char* path, REGSAM access) {
  HKEY opened = nullptr;
  const LSTATUS status = ::RegOpenKeyExA(root, path, 0, access, &opened);
  if (status == ERROR_SUCCESS) {
    key_.reset(opened);
    view_ = access & kViewBits;
  }
  return status;
}

LSTATUS RegistryKey::CreateKey(HKEY root, const char* path, REGSAM access, DWORD* disposition) {
  HKEY created = nullptr;
  const LSTATUS status =
      ::RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &created, disposition);
  if (status == ERROR_SUCCESS) {
    key_.reset(created);
    view_ = access & kViewBits;
  }
  return status;
}

LSTATUS RegistryKey::ReadString(const char* name, char* buffer, DWORD* size) {
  if (buffer == nullptr || size == nullptr) return ERROR_INVALID_DATA;
  const DWORD capacity = *size;
  *size = 0;
  DWORD type = REG_NONE;
  DWORD read_size = capacity;
  const LSTATUS status =
      ::RegQueryValueExA(key_.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &read_size);
  if (status != ERROR_SUCCESS) return status;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
  if (read_size == 0) {
    if (capacity > 0) buffer[0] = '\0';
    return ERROR_SUCCESS;
  }
  if (buffer[read_size - 1] != '\0') return ERROR_INVALID_DATA;
  *size = read_size;
  return ERROR_SUCCESS;
}

LSTATUS RegistryKey::ReadWholeValue(const char* name, std::size_t limit, DWORD& type, std::string& bytes) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD found_type = REG_NONE;
    DWORD size = 0;
    LSTATUS status = ::RegQueryValueExA(key_.get(), name, nullptr, &found_type, nullptr, &size);
    if (status != ERROR_SUCCESS) return status;
    if (size > limit) return ERROR_MORE_DATA;
    std::string read(size, '\0');
    status = ::RegQueryValueExA(key_.get(), name, nullptr, &found_type, reinterpret_cast<BYTE*>(read.data()), &size);
    if (status == ERROR_MORE_DATA) continue;  // it grew in between
    if (status != ERROR_SUCCESS) return status;
    read.resize(std::min<std::size_t>(size, read.size()));
    type = found_type;
    bytes = std::move(read);
    return ERROR_SUCCESS;
  }
  return ERROR_MORE_DATA;
}

LSTATUS RegistryKey::ReadDword(const char* name, DWORD* value) {
  if (value == nullptr) return ERROR_INVALID_DATA;
  DWORD type = REG_NONE;
  DWORD data = 0;
  DWORD size = sizeof(data);
  const LSTATUS status = ::RegQueryValueExA(key_.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  if (status != ERROR_SUCCESS) return status;
  if (type != REG_DWORD || size != sizeof(data)) return ERROR_INVALID_DATA;
  *value = data;
  return ERROR_SUCCESS;
}

LSTATUS RegistryKey::WriteString(const char* name, const char* text, DWORD type) {
  if (text == nullptr) return ERROR_INVALID_DATA;
  return ::RegSetValueExA(key_.get(), name, 0, type, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>(std::strlen(text) + 1));
}

LSTATUS RegistryKey::WriteDword(const char* name, DWORD value) {
  return ::RegSetValueExA(key_.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

LSTATUS RegistryKey::ReadText(const wchar_t* name, std::wstring& text) {
  DWORD type = REG_NONE;
  DWORD size = 0;
  LSTATUS status = ::RegQueryValueExW(key_.get(), name, nullptr, &type, nullptr, &size);
  if (status != ERROR_SUCCESS) return status;
  if (type != REG_SZ) return ERROR_INVALID_DATA;
  std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
  status = ::RegQueryValueExW(key_.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
  if (status != ERROR_SUCCESS) return status;
  if (type != REG_SZ) return ERROR_INVALID_DATA;
  buffer[std::min<std::size_t>(size / sizeof(wchar_t), buffer.size() - 1)] = L'\0';
  text.assign(buffer.data());
  return ERROR_SUCCESS;
}

LSTATUS RegistryKey::WriteText(const wchar_t* name, const std::wstring& text) {
  return ::RegSetValueExW(key_.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

LSTATUS RegistryKey::DeleteValue(const char* name) { return ::RegDeleteValueA(key_.get(), name); }

LSTATUS RegistryKey::DeleteValue(const wchar_t* name) { return ::RegDeleteValueW(key_.get(), name); }

void RegistryKey::CloseKey() {
  key_.reset();
  view_ = 0;
}

}  // namespace vx
