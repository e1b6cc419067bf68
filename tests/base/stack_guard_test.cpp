// The stack protector of the Windows build: the guard is seeded at start-up and a smashed stack
// ends the process with STATUS_STACK_BUFFER_OVERRUN.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "child_process_win.h"

extern "C" std::uintptr_t __stack_chk_guard;

namespace vx {
namespace {

TEST(StackGuard, IsSeededAtStartUp) {
  EXPECT_NE(__stack_chk_guard, static_cast<std::uintptr_t>(0x2B992DDFA232ull & UINTPTR_MAX));
  EXPECT_NE(__stack_chk_guard, 0u);
}

TEST(StackGuard, SmashedStackEndsTheProcess) {
  const std::string program = "\"" + test::WindowsPathOf(VX_STACK_SMASH_HELPER) + "\"";
  const test::ChildResult within = test::RunChild(program + " 16");
  ASSERT_TRUE(within.started);
  EXPECT_EQ(within.exit_code, 0u);
  const test::ChildResult beyond = test::RunChild(program + " 200");
  ASSERT_TRUE(beyond.started);
  EXPECT_EQ(beyond.exit_code, 0xC0000409u);
}

}  // namespace
}  // namespace vx
