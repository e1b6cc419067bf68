# Compiler and linker settings shared by every target of the project.

if(WIN32)
  # Windows 7 API level; newer functions are looked up at run time.
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
endif()

if(MINGW)
  # C99-conforming printf family (%ls, %lld, %zu) instead of msvcrt's.
  add_compile_definitions(__USE_MINGW_ANSI_STDIO=1)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    add_compile_options(-msse2 -mfpmath=sse)
  endif()
  # Hardening: stack protector, ASLR, DEP; the runtime is linked statically so that the
  # program needs no MinGW DLL on a customer machine.
  add_compile_options(-fstack-protector-strong)
  add_link_options(-static -static-libgcc -static-libstdc++ -fstack-protector-strong
                   LINKER:--dynamicbase LINKER:--nxcompat)
  # Sections aligned to pages in the file as in memory: the loader can then map the image instead of
  # reading every section into fresh pages at each start (a few milliseconds per run under Wine).
  add_link_options(LINKER:--file-alignment=0x1000)
endif()

if(VX_FUZZ)
  # Coverage for libFuzzer in every library the targets link; the targets add the fuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(VX_SANITIZE AND NOT WIN32)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Warnings for the project's own targets (third-party code such as GoogleTest is left alone).
function(vx_target_defaults target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /utf-8)
    if(VX_WARNINGS_AS_ERRORS)
      target_compile_options(${target} PRIVATE /WX)
    endif()
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wformat=2 -Wno-format-nonliteral)
    if(VX_WARNINGS_AS_ERRORS)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  endif()
endfunction()

# libxml2: on Windows the static MinGW build made by scripts/install-deps.sh, natively Debian's.
if(WIN32)
  # The same place scripts/install-deps.sh builds it in.
  if(NOT "$ENV{VX_DEPS_CACHE}" STREQUAL "")
    set(vx_deps_cache "$ENV{VX_DEPS_CACHE}")
  elseif(NOT "$ENV{HOME}" STREQUAL "")
    set(vx_deps_cache "$ENV{HOME}/.cache/vxagent")
  else()
    set(vx_deps_cache "/root/.cache/vxagent")
  endif()
  set(VX_LIBXML2_ROOT "${vx_deps_cache}/libxml2-${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-r2" CACHE PATH
      "Install prefix of the static MinGW build of libxml2")
  find_library(VX_LIBXML2_LIBRARY NAMES xml2 libxml2 PATHS "${VX_LIBXML2_ROOT}/lib" NO_DEFAULT_PATH
               NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  add_library(vx_libxml2 STATIC IMPORTED GLOBAL)
  set_target_properties(vx_libxml2 PROPERTIES
    IMPORTED_LOCATION "${VX_LIBXML2_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${VX_LIBXML2_ROOT}/include/libxml2"
    INTERFACE_COMPILE_DEFINITIONS LIBXML_STATIC
    INTERFACE_LINK_LIBRARIES "ws2_32")
else()
  find_package(LibXml2 REQUIRED)
  add_library(vx_libxml2 INTERFACE IMPORTED GLOBAL)
  target_link_libraries(vx_libxml2 INTERFACE LibXml2::LibXml2)
endif()
add_library(vx::libxml2 ALIAS vx_libxml2)

if(VX_REPRODUCIBLE AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  # The same sources give the same bytes in any directory and for any user: file names in the debug
  # information and in __FILE__ are rewritten to fixed roots (the build tree's too when it lies outside
  # the sources, and libxml2's headers, which live in the user's cache). A debugger maps the roots back
  # onto a checkout with `set substitute-path`. Resource scripts go to windres, which takes no such
  # options and records no paths.
  set(vx_prefix_maps "-ffile-prefix-map=${CMAKE_SOURCE_DIR}=/usr/src/vxagent")
  cmake_path(IS_PREFIX CMAKE_SOURCE_DIR "${CMAKE_BINARY_DIR}" vx_binary_inside_source)
  if(NOT vx_binary_inside_source)
    list(APPEND vx_prefix_maps "-ffile-prefix-map=${CMAKE_BINARY_DIR}=/usr/src/vxagent-build")
  endif()
  if(VX_LIBXML2_ROOT)
    list(APPEND vx_prefix_maps "-ffile-prefix-map=${VX_LIBXML2_ROOT}=/usr/src/libxml2-mingw")
  endif()
  add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:${vx_prefix_maps}>")
  if(MINGW)
    # The linker would stamp the PE header with the time of the link; scripts/release.sh stamps the
    # shipped file with its commit's time instead.
    add_link_options(LINKER:--no-insert-timestamp)
  endif()
endif()
