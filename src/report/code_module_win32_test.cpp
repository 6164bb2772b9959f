#include <gtest/gtest.h>
#include <windows.h>

#include "base/wide_win32.h"
#include "report/code_module.h"

namespace {

Text ExecutablePath() {
  wchar_t path[MAX_PATH + 1];
  return TextFromWide(path, GetModuleFileNameW(nullptr, path, MAX_PATH + 1));
}

Text Lower(Text text) {
  for (char16_t& c : text) c = c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c;
  return text;
}

TEST(CodeModuleWin32Test, PlacesAnAddressInItsModule) {
  auto base = reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr));
  auto own = reinterpret_cast<uintptr_t>(&FindCodeModule);
  CodeModule module = FindCodeModule(own);
  EXPECT_EQ(module.path, ExecutablePath());
  EXPECT_EQ(module.relative, own - base);

  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto system = reinterpret_cast<uintptr_t>(GetProcAddress(kernel, "GetACP"));
  module = FindCodeModule(system);
  EXPECT_TRUE(Lower(module.path).ends_with(u"\\kernel32.dll"));
  EXPECT_EQ(module.relative, system - reinterpret_cast<uintptr_t>(kernel));
}

TEST(CodeModuleWin32Test, AddressOutsideAnyModuleCountsInTheExecutable) {
  struct Case {
    uintptr_t address;
    uint64_t relative;
  };
  const Case cases[] = {{0, 0}, {0x1000, 0}, {0x1234, 0x234}};
  for (const Case& c : cases) {
    CodeModule module = FindCodeModule(c.address);
    EXPECT_EQ(module.path, ExecutablePath());
    EXPECT_EQ(module.relative, c.relative);
  }
}

}  // namespace
