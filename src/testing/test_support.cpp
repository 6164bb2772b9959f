#include "testing/test_support.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  std::random_device random;
  fs::path folder;
  do {
    folder = fs::temp_directory_path() / ("prune-test-" + std::to_string(random()));
  } while (!fs::create_directory(folder));
  path_ = folder.string();
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  // Everything writable again first, so that read-only fixtures go too.
  for (auto& entry : fs::recursive_directory_iterator(path_, ignored)) {
    if (!fs::is_symlink(entry.symlink_status(ignored))) {
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

std::string TempFolder::At(const std::string& name) const { return path_ + "/" + name; }

Text TempFolder::PathOf(const std::string& name) const {
  return (fs::path(path_) / fs::path(name)).make_preferred().u16string();
}

std::string TempFolder::Write(const std::string& name, const std::string& bytes) const {
  std::string path = At(name);
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  return path;
}

std::string TempFolder::Read(const std::string& name) const { return ReadFile(At(name)); }

bool TempFolder::Exists(const std::string& name) const {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(At(name), ignored));
}

std::vector<std::string> TempFolder::Names() const {
  std::vector<std::string> names;
  for (auto& entry : fs::directory_iterator(path_))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool UnderAddressSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#endif
#endif
  return false;
}
