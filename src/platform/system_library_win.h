// Functions of System32 DLLs bound at first use (Windows).
//
// The handler's usual run needs only kernel32, advapi32 and the C runtime. Importing the network,
// NetAPI and shell DLLs would load them (and what they pull in) into every run, which under Wine
// costs more than the run itself. Their functions are therefore looked up when first called, from
// System32 only; a DLL once loaded stays loaded for the life of the process. Thread-safe.
#pragma once

#include <windows.h>

namespace vx {

// The address of name in System32's dll, or null (the DLL or the function is missing).
FARPROC GetSystemProcAddress(const wchar_t* dll, const char* name);

// The function as its own type; the lookup runs once per instantiation of a call site's static.
template <typename Function>
Function SystemFunction(const wchar_t* dll, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetSystemProcAddress(dll, name)));
}

}  // namespace vx
