// The two ways of the save on POSIX systems, between which the save chooses (save_posix.cpp).
#pragma once

#include <sys/stat.h>

#include <string>

#include "files/file_failures.h"
#include "files/file_stamp.h"
#include "save/save.h"

/// The file that the save writes: where it lies, links followed, and its status where it is
/// there.
struct Target {
  std::string path;
  bool exists = false;
  struct stat status = {};
};

/// How the way by rename ended: with the save's outcome, or, for a file that is there, with
/// nothing changed and the way in place to take instead.
struct Renamed {
  bool in_place = false;
  SaveOutcome outcome;  ///< where not `in_place`
  int no_room = 0;      ///< where `in_place` for want of room for a second copy: the error
};

/// Whether a new file renamed over the existing file of status `existing` can keep all that it
/// has: a rename would leave the file's other names with the old content, and a new file that
/// cannot be given the owner would take the file from its owner.
bool NewFileCanKeepAll(const struct stat& existing);

/// The new content goes to a new file beside the target, flushed, then renamed over it, and the
/// folder flushed (a file not there yet is created asking for `new_file_mode`): a run killed or
/// a power cut at any moment leaves the old content or the new, never a mix. For a file that is
/// there, hands over to the way in place, with nothing changed, where a new file would not keep
/// what the file has or there is no room for a second copy. A file that is not there yet has no
/// other way: it only ever appears whole under its name.
Renamed ReplaceByRename(const Target& target, const ContentStream& content, const FileStamp* loaded,
                        mode_t new_file_mode);

/// Writes the content into the existing file at `target` itself, which keeps everything the
/// file has: its owner, group, mode, links, extended attributes and name. The old content, read
/// beforehand, goes to a backup first, which stays only where it is the one whole copy left; the
/// set-ID bits and capabilities that the writes clear are given back on every way out.
/// `no_room`, where not 0, is the error that left no room for a second copy of the file.
SaveOutcome WriteInPlace(const std::string& target, const FileContent& content,
                         const FileStamp* loaded, int no_room);
