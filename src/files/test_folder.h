// For tests: a fresh temporary folder for files, removed at the end; portable, so that the same
// tests run on Windows.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

class TestFolder {
 public:
  TestFolder() {
    static int count = 0;
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("prune-test-" + std::to_string(random()) + "-" + std::to_string(++count));
    std::filesystem::create_directories(path_);
  }
  ~TestFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  std::string At(const std::string& name) const { return (path_ / name).string(); }
  std::string Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(At(name), std::ios::binary) << bytes;
    return At(name);
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(At(name), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
  }

 private:
  std::filesystem::path path_;
};
