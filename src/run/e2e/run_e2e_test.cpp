#include <gtest/gtest.h>

#include "run/e2e/e2e_support.h"

namespace {

TEST(RunE2eTest, PrunesAndWritesBackWithCrLf) {
  TempFolder folder;
  std::string path =
      folder.Write("part.nc", "G00 X0\nFARCALL $STRGLOB1 \"LASER_ON\"\nG01 A1\nG01 A2\nM30");
  RunResult result = RunPrune({ProgramPath(path)});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(folder.Read("part.nc"),
            "G00 X0\r\nFARCALL $STRGLOB1 \"LASER_ON\"\r\nG01 A2\r\nM30\r\n");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"part.nc"});
  if (!UnderWine()) {
    EXPECT_EQ(result.out + result.err, "");
  }
}

}  // namespace
