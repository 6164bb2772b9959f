#include <gtest/gtest.h>
#include <string.h>

#include <filesystem>
#include <memory>

#include "base/own_path.h"
#include "report/code_module.h"
#include "report/report_text.h"
#include "testing/test_support.h"

namespace {

TEST(CodeModuleTest, ExecutableCodeIsRelativeToTheImageStart) {
  auto address = reinterpret_cast<uintptr_t>(&FindCodeModule);
  CodeModule module = FindCodeModule(address);
  EXPECT_EQ(module.path, OwnExecutablePath());
  EXPECT_GT(module.relative, 0u);
  EXPECT_LT(module.relative, std::filesystem::file_size(NativeFromText(module.path)));
  EXPECT_LT(module.relative, address);  // a position-independent executable is loaded higher
}

TEST(CodeModuleTest, SharedObjectsAreNamedByTheirOwnPath) {
  if (UnderAddressSanitizer()) {
    GTEST_SKIP() << "AddressSanitizer intercepts strerror, whose address then lies in its own "
                    "library rather than in libc";
  }
  CodeModule module = FindCodeModule(reinterpret_cast<uintptr_t>(&strerror));
  EXPECT_TRUE(ModuleName(module.path).starts_with(u"libc")) << NativeFromText(module.path);
  EXPECT_NE(module.path, OwnExecutablePath());
}

TEST(CodeModuleTest, UnknownAddressesFallBackToTheExecutable) {
  std::unique_ptr<char[]> heap(new char[64 << 20]);  // large: an anonymous mapping
  auto on_heap = reinterpret_cast<uintptr_t>(heap.get());
  const struct {
    uintptr_t address;
    uint64_t relative;
  } cases[] = {{0, 0}, {0x1234, 0x234}, {0x1000, 0}, {on_heap, on_heap - 0x1000}};
  for (const auto& c : cases) {
    CodeModule module = FindCodeModule(c.address);
    EXPECT_EQ(module.path, OwnExecutablePath());
    EXPECT_EQ(module.relative, c.relative) << std::hex << c.address;
  }
}

}  // namespace
