// Which file was loaded, and in what state: what the save holds the file to before it writes.
#pragma once

#include <cstdint>

/// One state of a file: the file itself (its volume and its number there), its size and the
/// times of its last changes. Where it differs between the load and the save, someone else
/// wrote or replaced the file meanwhile.
struct FileStamp {
  uint64_t volume = 0;
  uint64_t file = 0;
  uint64_t size = 0;
  int64_t modified = 0;  ///< the content's last change, in the platform's own ticks
  int64_t changed =
      0;  ///< the last change of anything (content, status), where the platform has it
  uint32_t permissions = 0666;  ///< the permission bits, where the platform has them
  bool operator==(const FileStamp&) const = default;
};
