#include <gtest/gtest.h>

#include "encoding/code_page.h"

namespace {

TEST(CodePagePosixTest, Windows1252StandsInAndKeepsEveryByte) {
  EXPECT_TRUE(AnsiIsSingleByte());
  EXPECT_TRUE(AnsiKeepsEveryByte());
}

}  // namespace
