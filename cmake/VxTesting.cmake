# Test support: GoogleTest built from Debian's sources with the project's toolchain, and, in the
# cross build, Wine as the emulator that CTest runs the Windows test programs with.
include(GoogleTest)

set(VX_GOOGLETEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources (Debian package googletest)")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory("${VX_GOOGLETEST_SOURCE}" "${CMAKE_BINARY_DIR}/_googletest" EXCLUDE_FROM_ALL SYSTEM)

if(CMAKE_CROSSCOMPILING AND WIN32)
  set(VX_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix used by the tests")
  # Debian's /usr/bin/wine always picks the 32-bit loader when it is installed; the 64-bit build
  # names its own so that it runs on hosts that cannot execute 32-bit programs.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(vx_default_loader "/usr/lib/wine/wine64")
  else()
    set(vx_default_loader "/usr/lib/wine/wine")
  endif()
  set(VX_WINE_LOADER "${vx_default_loader}" CACHE FILEPATH "Wine loader the Windows tests run with")
  configure_file("${PROJECT_SOURCE_DIR}/scripts/wine-run.in" "${CMAKE_BINARY_DIR}/wine-run" @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_BINARY_DIR}/wine-run")
endif()

# vx_add_test(<name> SOURCES ... [LIBRARIES ...] [SERIAL] [PROPERTIES ...])
#   A GoogleTest program whose cases become CTest tests (discovered when the tests run, through
#   the emulator in the cross build). SERIAL: the cases touch the agent's fixed registry keys or
#   other shared machine state and never run beside each other.
function(vx_add_test name)
  cmake_parse_arguments(ARG "SERIAL" "" "SOURCES;LIBRARIES;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  vx_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gmock GTest::gtest_main)
  set(properties TIMEOUT 120 ${ARG_PROPERTIES})
  if(ARG_SERIAL)
    list(APPEND properties RESOURCE_LOCK vx_machine_state)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES ${properties})
endfunction()
