#include "platform/system_library_win.h"

namespace vx {

FARPROC GetSystemProcAddress(const wchar_t* dll, const char* name) {
  HMODULE module = ::GetModuleHandleW(dll);
  if (module == nullptr) module = ::LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  return module != nullptr ? ::GetProcAddress(module, name) : nullptr;
}

}  // namespace vx
