// The two ways of the save on POSIX systems, between which the save chooses (save_posix.cpp).
#pragma once

#include <sys/stat.h>

#include <string>

#include "files/file_stamp.h"
#include "save/outcome.h"
#include "save/save.h"

/// The new content goes to a new file beside `target`, flushed, then renamed over it, and the
/// folder flushed (a file not there yet is created asking for `new_file_mode`): a run killed or a
/// power cut at any moment leaves the old content or the new, never a mix. For an existing file
/// (`existing`), takes another way, with nothing changed, where that would not keep what the file
/// has or there is no room for a second copy; `*no_room` then gives the error that said so (the
/// way in place weighs it). A file that is not there yet has no other way: it only ever appears
/// whole under its name.
SaveOutcome ReplaceByRename(const std::string& target, const struct stat* existing,
                            const ContentStream& content, const FileStamp* loaded,
                            mode_t new_file_mode, int* no_room);

/// Writes the content into the existing file itself, which keeps everything the file has: its
/// owner, group, mode, links, extended attributes and name. The old content, read beforehand,
/// goes to a backup first, which stays only where it is the one whole copy left; the set-ID bits
/// and capabilities that the writes clear are given back on every way out. `no_room`, where not
/// 0, is the error that left no room for a second copy of the file.
SaveOutcome WriteInPlace(const std::string& target, const FileContent& content,
                         const FileStamp* loaded, int no_room);
