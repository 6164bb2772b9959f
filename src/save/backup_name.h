// The names that a backup of a program takes beside it, the same on every platform.
#pragma once

#include <string>
#include <string_view>

/// The names a backup of the file named `name` may take, in order of preference: the name with
/// ".prune-backup" after it, then with "-2", "-3", … after that. Long names are cut first (in
/// the platform's own units of a name), so that the backup's name stays within what any file
/// system takes.
template <typename Char>
std::basic_string<Char> BackupName(std::basic_string_view<Char> name, int attempt) {
  constexpr size_t kLongestKept = 200;
  std::string suffix = ".prune-backup";
  if (attempt != 1) {
    suffix += '-';
    suffix += std::to_string(attempt);
  }
  std::basic_string<Char> backup(name.substr(0, kLongestKept));
  for (char c : suffix) backup.push_back(static_cast<Char>(c));
  return backup;
}
