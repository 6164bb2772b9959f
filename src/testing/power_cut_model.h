// For fault tests of the save: a disk that keeps only what was flushed. A test records every
// change that a traced save makes to files and folders, in order, and checks each state that a
// power cut could leave behind. Pure bookkeeping: no file system is touched.
//
// A power cut right after a step leaves, for each file, its content as of its last flush plus
// some prefix of its later changes, and for each folder, its names as of its last flush plus some
// prefix of its later name changes; each file and folder independently of the others.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

/// The changes a run makes to files and folders, and the states a power cut may leave of them.
///
/// Paths are absolute, with '/' or '\\' between their parts; the folder of a path is everything
/// before its last separator. Paths are compared exactly as given. Ids name files and the folders
/// made during the run, as the system knows them; one id is never used for two of them. Folders
/// that exist at the start are never renamed or removed. ForEachState and Flushed throw
/// std::invalid_argument where a step names what is not there after the steps before it.
class PowerCutModel {
 public:
  using FileId = uint64_t;

  /// One recorded change or flush.
  struct Step {
    enum Kind {
      kCreate,
      kCreateFolder,
      kLink,
      kRename,
      kRemove,
      kWrite,
      kResize,
      kFlushFile,
      kFlushFolder
    };
    Kind kind;
    std::string path;  // the name, the folder, or the old name of a rename
    std::string to;    // the new name of a rename
    FileId id;
    uint64_t offset;  // of a write; the size of a resize
    std::string bytes;

    /// The step in one line.
    std::string Line() const;
  };
  /// A file there at the start.
  struct ExistingFile {
    std::string path;
    FileId id;
    std::string content;
  };

  /// The file `id` has the name `path` and `content`, all flushed. Throws std::invalid_argument
  /// after the first step, or where `id` was given another content.
  void Existing(const std::string& path, FileId id, std::string content);

  /// A new empty file `id` gets the name `path`.
  void Create(const std::string& path, FileId id);
  /// A new empty folder `id` gets the name `path`.
  void CreateFolder(const std::string& path, FileId id);
  /// The file `id` gets the further name `path`.
  void Link(const std::string& path, FileId id);
  /// What `from` names takes the name `to`, replacing what `to` named. Atomic within one folder;
  /// between two folders, a change of each.
  void Rename(const std::string& from, const std::string& to);
  /// The name `path` goes; what it named stays under its other names.
  void Remove(const std::string& path);
  /// `bytes` written to the file `id` at `offset` (past the end: zeros up to it).
  void Write(FileId id, uint64_t offset, std::string_view bytes);
  /// The file `id` cut to `size` bytes, or extended with zeros.
  void Resize(FileId id, uint64_t size);
  /// Every earlier change of the file `id`'s content is flushed.
  void FlushFile(FileId id);
  /// Every earlier change of the names in `folder` is flushed.
  void FlushFolder(const std::string& folder);

  /// The number of steps recorded.
  size_t steps() const { return steps_.size(); }
  /// The steps recorded, in order.
  const std::vector<Step>& recorded_steps() const { return steps_; }
  /// The files there at the start.
  const std::vector<ExistingFile>& existing_files() const { return existing_; }

  /// Calls `visit` with every state that a power cut right after each step may leave (the path
  /// and content of each file), and the step (0: before the first). Stops early when `visit`
  /// returns false. Returns the number of states visited.
  ///
  /// Where the choices at a step combine to more than kFullProductBound states, visits a reduced
  /// set instead: each file and folder at each of its choices, with all the others at none of
  /// their unflushed changes, and with all the others at all of them.
  size_t ForEachState(
      const std::function<bool(size_t step, const std::map<std::string, std::string>& files)>&
          visit) const;

  /// The state that keeps only what was flushed, after the last step.
  std::map<std::string, std::string> Flushed() const;
  /// The state that keeps only what was flushed, after the first `steps` steps.
  std::map<std::string, std::string> FlushedAfter(size_t steps) const;

  /// The steps, one a line, for a failure message.
  std::string Describe() const;

  /// The most states visited at one step by trying every combination.
  static constexpr size_t kFullProductBound = 4096;

 private:
  /// The files and folders at one moment, with the changes of each that are not yet flushed.
  class Disk;

  /// The disk before the first step.
  Disk Start() const;
  /// Applies step `index` to `disk`; throws std::invalid_argument, with the steps, where the step
  /// names what is not there.
  void Apply(size_t index, Disk* disk) const;

  std::vector<ExistingFile> existing_;
  std::vector<Step> steps_;
};
