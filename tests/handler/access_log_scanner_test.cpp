#include "handler/access_log_scanner.h"

#include <gtest/gtest.h>

namespace vx {
namespace {
TEST(Smoke, Works) { EXPECT_TRUE(IsEvidenceLine("30716 patch TEST group 22-05-13")); }
}  // namespace
}  // namespace vx
