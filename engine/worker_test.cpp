#include "engine/worker.h"

#include <gtest/gtest.h>

namespace tovalink {
namespace {

TEST(WorkerTest, ProductPrefix) {
  EXPECT_EQ(ProductPrefix("S10"), "S");
  EXPECT_EQ(ProductPrefix(" SID25 "), "SID");
  EXPECT_EQ(ProductPrefix("25"), "");
  EXPECT_EQ(ProductPrefix("ABC"), "ABC");
  EXPECT_EQ(ProductPrefix(""), "");
}

TEST(WorkerTest, ChannelsBuiltIn) {
  EXPECT_TRUE(ChannelAvailable("HOSTA"));
  EXPECT_FALSE(ChannelAvailable("DOMPET"));
  EXPECT_FALSE(ChannelAvailable("MKIOS"));
  EXPECT_FALSE(ChannelAvailable("MTRONIK"));
}

}  // namespace
}  // namespace tovalink
