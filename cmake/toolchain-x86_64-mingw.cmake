# 64-bit Windows: the build whose tests run under Wine's 64-bit loader on every host.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include("${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake")
