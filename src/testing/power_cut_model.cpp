#include "testing/power_cut_model.h"

#include <algorithm>
#include <set>
#include <stdexcept>
#include <utility>

namespace {

using FileId = PowerCutModel::FileId;
using Files = std::map<std::string, std::string>;

/// The names in one folder, each from the separator before it on ("/b.nc"), with what they name.
using Names = std::map<std::string, FileId>;

/// One choice for each file and folder with unflushed changes: how many of them a state keeps.
using Combination = std::vector<size_t>;

/// Where the folder of `path` ends: at its last separator.
size_t FolderEnd(const std::string& path) {
  size_t end = path.find_last_of("/\\");
  return end == std::string::npos ? 0 : end;
}

/// The folder of `path`: everything before its last separator.
std::string FolderOf(const std::string& path) { return path.substr(0, FolderEnd(path)); }

/// The name of `path` in its folder, from its last separator on.
std::string NameOf(const std::string& path) { return path.substr(FolderEnd(path)); }

/// Whether `path` is `folder` or lies below it.
bool IsAtOrBelow(const std::string& path, const std::string& folder) {
  if (path.compare(0, folder.size(), folder) != 0) return false;
  return path.size() == folder.size() || path[folder.size()] == '/' || path[folder.size()] == '\\';
}

/// `bytes` put into `content` at `offset`, with zeros up to it where it lies past the end.
void WriteAt(std::string& content, uint64_t offset, std::string_view bytes) {
  if (content.size() < offset + bytes.size()) content.resize(offset + bytes.size(), '\0');
  content.replace(offset, bytes.size(), bytes);
}

/// A file's content or a folder's names: as flushed, then after each later change in order.
template <typename Value>
class History {
 public:
  explicit History(Value flushed) { versions_.push_back(std::move(flushed)); }

  /// The value with every change.
  const Value& latest() const { return versions_.back(); }
  /// Records the change that `change` makes to the latest value.
  template <typename Change>
  void Record(const Change& change) {
    Value next = versions_.back();
    change(next);
    versions_.push_back(std::move(next));
  }
  /// Makes every change recorded so far durable.
  void Flush() {
    versions_.erase(versions_.begin(), versions_.end() - 1);
    chosen_ = 0;
  }

  /// How many values a power cut may leave: the flushed one, and one more for each change.
  size_t choices() const { return versions_.size(); }
  /// Makes the value with the first `kept` changes the one a state shows.
  void Choose(size_t kept) { chosen_ = kept; }
  /// The value a state shows.
  const Value& chosen() const { return versions_[chosen_]; }

 private:
  std::vector<Value> versions_;
  size_t chosen_ = 0;
};

/// Each combination of choices, counted through like the digits of a number.
std::vector<Combination> AllCombinations(const std::vector<size_t>& choices) {
  std::vector<Combination> all;
  Combination combination(choices.size(), 0);
  for (;;) {
    all.push_back(combination);
    size_t digit = 0;
    while (digit < choices.size() && ++combination[digit] == choices[digit]) {
      combination[digit++] = 0;
    }
    if (digit == choices.size()) return all;
  }
}

/// Each object at each of its choices, with all the others at none of their changes, and with
/// all the others at all of them.
std::vector<Combination> ReducedCombinations(const std::vector<size_t>& choices) {
  Combination none(choices.size(), 0);
  Combination all(choices.size(), 0);
  for (size_t i = 0; i < choices.size(); ++i) all[i] = choices[i] - 1;
  std::set<Combination> reduced;
  for (const Combination& others : {none, all}) {
    for (size_t i = 0; i < choices.size(); ++i) {
      Combination one = others;
      for (one[i] = 0; one[i] < choices[i]; ++one[i]) reduced.insert(one);
    }
  }
  return {reduced.begin(), reduced.end()};
}

/// The combinations to visit: every one up to the bound, the reduced set beyond it.
std::vector<Combination> CombinationsToVisit(const std::vector<size_t>& choices) {
  size_t product = 1;
  for (size_t count : choices) {
    product *= count;
    if (product > PowerCutModel::kFullProductBound) return ReducedCombinations(choices);
  }
  return AllCombinations(choices);
}

/// How a step or a failure names the file or folder `id`.
std::string Numbered(FileId id) { return std::string("#").append(std::to_string(id)); }

/// `bytes` as a short readable quote.
std::string Quote(const std::string& bytes) {
  constexpr size_t kShown = 24;
  std::string quote = "\"";
  for (char c : bytes.substr(0, kShown)) {
    if (c == '\n') {
      quote += "\\n";
    } else if (c == '\r') {
      quote += "\\r";
    } else if (c < ' ' || c > '~' || c == '"' || c == '\\') {
      const char* digits = "0123456789abcdef";
      auto byte = static_cast<unsigned char>(c);
      quote += std::string("\\x") + digits[byte >> 4] + digits[byte & 15];
    } else {
      quote += c;
    }
  }
  return quote + (bytes.size() > kShown ? "\"..." : "\"");
}

}  // namespace

std::string PowerCutModel::Step::Line() const {
  std::string number = Numbered(id);
  switch (kind) {
    case Step::kCreate:
      return "create " + path + " " + number;
    case Step::kCreateFolder:
      return "create folder " + path + " " + number;
    case Step::kLink:
      return "link " + path + " " + number;
    case Step::kRename:
      return "rename " + path + " -> " + to;
    case Step::kRemove:
      return "remove " + path;
    case Step::kWrite:
      return "write " + number + " at " + std::to_string(offset) + ", " +
             std::to_string(bytes.size()) + " bytes " + Quote(bytes);
    case Step::kResize:
      return "resize " + number + " to " + std::to_string(offset);
    case Step::kFlushFile:
      return "flush " + number;
    case Step::kFlushFolder:
      return "flush folder " + path;
  }
  return "?";
}

class PowerCutModel::Disk {
 public:
  /// Adds a file with its name and content, all flushed.
  void AddExisting(const ExistingFile& file);
  /// Applies `step`; throws std::invalid_argument where it names what is not there.
  void Apply(const Step& step);

  /// The number of choices of each file and folder with unflushed changes.
  std::vector<size_t> PendingChoices();
  /// Makes the state show `combination`, in the order of PendingChoices.
  void Choose(const Combination& combination);
  /// The files of the state chosen, by path.
  Files Render() const;

 private:
  /// Calls `visit` with each file and folder that has unflushed changes, always in one order.
  template <typename Visit>
  void ForEachPending(const Visit& visit);
  /// The file `id`.
  History<std::string>& File(FileId id);
  /// The folder that `folder` names in the latest state.
  History<Names>& Folder(const std::string& folder);
  /// What `path` names in the latest state.
  FileId Named(const std::string& path);
  /// Records that `path` names `id`.
  void Name(const std::string& path, FileId id);
  /// Records that what `from` names is named `to` instead.
  void Rename(const std::string& from, const std::string& to);
  /// Records that `path` names nothing.
  void Remove(const std::string& path);
  /// Moves the paths of the made folders at `from` and below to `to`.
  void MoveMadeFolders(const std::string& from, const std::string& to);
  /// Adds the files in `names` below `path`; `above` holds the made folders on the way.
  void RenderFolder(const std::string& path, const Names& names, std::vector<FileId>* above,
                    Files* files) const;

  std::map<FileId, History<std::string>> files_;
  /// The folders made during the run, by id.
  std::map<FileId, History<Names>> made_folders_;
  /// The folders there at the start, by path.
  std::map<std::string, History<Names>> first_folders_;
  /// Where each made folder is in the latest state.
  std::map<std::string, FileId> made_folder_paths_;
};

void PowerCutModel::Disk::AddExisting(const ExistingFile& file) {
  files_.try_emplace(file.id, file.content);
  Name(file.path, file.id);
  Folder(FolderOf(file.path)).Flush();
}

void PowerCutModel::Disk::Apply(const Step& step) {
  switch (step.kind) {
    case Step::kCreate:
      if (!files_.try_emplace(step.id, "").second) {
        throw std::invalid_argument("file " + Numbered(step.id) + " is there already");
      }
      Name(step.path, step.id);
      break;
    case Step::kCreateFolder:
      if (!made_folders_.try_emplace(step.id, Names()).second) {
        throw std::invalid_argument("folder " + Numbered(step.id) + " is there already");
      }
      Name(step.path, step.id);
      made_folder_paths_[step.path] = step.id;
      break;
    case Step::kLink:
      File(step.id);
      Name(step.path, step.id);
      break;
    case Step::kRename:
      Rename(step.path, step.to);
      break;
    case Step::kRemove:
      Remove(step.path);
      break;
    case Step::kWrite:
      File(step.id).Record(
          [&](std::string& content) { WriteAt(content, step.offset, step.bytes); });
      break;
    case Step::kResize:
      File(step.id).Record([&](std::string& content) { content.resize(step.offset, '\0'); });
      break;
    case Step::kFlushFile:
      File(step.id).Flush();
      break;
    case Step::kFlushFolder:
      Folder(step.path).Flush();
      break;
  }
}

template <typename Visit>
void PowerCutModel::Disk::ForEachPending(const Visit& visit) {
  for (auto& [id, file] : files_) {
    if (file.choices() > 1) visit(file);
  }
  for (auto& [id, folder] : made_folders_) {
    if (folder.choices() > 1) visit(folder);
  }
  for (auto& [path, folder] : first_folders_) {
    if (folder.choices() > 1) visit(folder);
  }
}

std::vector<size_t> PowerCutModel::Disk::PendingChoices() {
  std::vector<size_t> choices;
  ForEachPending([&](const auto& history) { choices.push_back(history.choices()); });
  return choices;
}

void PowerCutModel::Disk::Choose(const Combination& combination) {
  size_t next = 0;
  ForEachPending([&](auto& history) { history.Choose(combination[next++]); });
}

Files PowerCutModel::Disk::Render() const {
  Files files;
  std::vector<FileId> above;
  for (const auto& [path, folder] : first_folders_) {
    RenderFolder(path, folder.chosen(), &above, &files);
  }
  return files;
}

void PowerCutModel::Disk::RenderFolder(const std::string& path, const Names& names,
                                       std::vector<FileId>* above, Files* files) const {
  for (const auto& [name, id] : names) {
    if (auto file = files_.find(id); file != files_.end()) {
      (*files)[path + name] = file->second.chosen();
      continue;
    }
    auto folder = made_folders_.find(id);
    // A folder moved into one of its own, with only some of the changes kept, can hold itself.
    if (folder == made_folders_.end() || std::count(above->begin(), above->end(), id)) continue;
    above->push_back(id);
    RenderFolder(path + name, folder->second.chosen(), above, files);
    above->pop_back();
  }
}

History<std::string>& PowerCutModel::Disk::File(FileId id) {
  auto file = files_.find(id);
  if (file == files_.end()) throw std::invalid_argument("no file " + Numbered(id));
  return file->second;
}

History<Names>& PowerCutModel::Disk::Folder(const std::string& folder) {
  auto made = made_folder_paths_.find(folder);
  if (made != made_folder_paths_.end()) return made_folders_.at(made->second);
  return first_folders_.try_emplace(folder, Names()).first->second;
}

FileId PowerCutModel::Disk::Named(const std::string& path) {
  const Names& names = Folder(FolderOf(path)).latest();
  auto named = names.find(NameOf(path));
  if (named == names.end()) throw std::invalid_argument("nothing is named " + path);
  return named->second;
}

void PowerCutModel::Disk::Name(const std::string& path, FileId id) {
  Folder(FolderOf(path)).Record([&](Names& names) { names[NameOf(path)] = id; });
}

void PowerCutModel::Disk::Rename(const std::string& from, const std::string& to) {
  FileId id = Named(from);
  History<Names>& from_folder = Folder(FolderOf(from));
  History<Names>& to_folder = Folder(FolderOf(to));
  if (&from_folder == &to_folder) {
    from_folder.Record([&](Names& names) {
      names.erase(NameOf(from));
      names[NameOf(to)] = id;
    });
  } else {
    to_folder.Record([&](Names& names) { names[NameOf(to)] = id; });
    from_folder.Record([&](Names& names) { names.erase(NameOf(from)); });
  }
  MoveMadeFolders(from, to);
}

void PowerCutModel::Disk::Remove(const std::string& path) {
  Named(path);
  Folder(FolderOf(path)).Record([&](Names& names) { names.erase(NameOf(path)); });
  made_folder_paths_.erase(path);
}

void PowerCutModel::Disk::MoveMadeFolders(const std::string& from, const std::string& to) {
  // Only an empty folder can be replaced, so nothing lies below `to`.
  made_folder_paths_.erase(to);
  std::map<std::string, FileId> moved;
  for (auto made = made_folder_paths_.begin(); made != made_folder_paths_.end();) {
    if (!IsAtOrBelow(made->first, from)) {
      ++made;
      continue;
    }
    moved[to + made->first.substr(from.size())] = made->second;
    made = made_folder_paths_.erase(made);
  }
  made_folder_paths_.merge(moved);
}

void PowerCutModel::Existing(const std::string& path, FileId id, std::string content) {
  if (!steps_.empty()) throw std::invalid_argument("an existing file after the first step");
  for (const ExistingFile& file : existing_) {
    if (file.id == id && file.content != content) {
      throw std::invalid_argument("file " + Numbered(id) + " with two contents");
    }
  }
  existing_.push_back({path, id, std::move(content)});
}

void PowerCutModel::Create(const std::string& path, FileId id) {
  steps_.push_back({Step::kCreate, path, "", id, 0, ""});
}

void PowerCutModel::CreateFolder(const std::string& path, FileId id) {
  steps_.push_back({Step::kCreateFolder, path, "", id, 0, ""});
}

void PowerCutModel::Link(const std::string& path, FileId id) {
  steps_.push_back({Step::kLink, path, "", id, 0, ""});
}

void PowerCutModel::Rename(const std::string& from, const std::string& to) {
  steps_.push_back({Step::kRename, from, to, 0, 0, ""});
}

void PowerCutModel::Remove(const std::string& path) {
  steps_.push_back({Step::kRemove, path, "", 0, 0, ""});
}

void PowerCutModel::Write(FileId id, uint64_t offset, std::string_view bytes) {
  steps_.push_back({Step::kWrite, "", "", id, offset, std::string(bytes)});
}

void PowerCutModel::Resize(FileId id, uint64_t size) {
  steps_.push_back({Step::kResize, "", "", id, size, ""});
}

void PowerCutModel::FlushFile(FileId id) {
  steps_.push_back({Step::kFlushFile, "", "", id, 0, ""});
}

void PowerCutModel::FlushFolder(const std::string& folder) {
  steps_.push_back({Step::kFlushFolder, folder, "", 0, 0, ""});
}

PowerCutModel::Disk PowerCutModel::Start() const {
  Disk disk;
  for (const ExistingFile& file : existing_) disk.AddExisting(file);
  return disk;
}

void PowerCutModel::Apply(size_t index, Disk* disk) const {
  try {
    disk->Apply(steps_[index]);
  } catch (const std::invalid_argument& error) {
    throw std::invalid_argument("step " + std::to_string(index + 1) + ": " + error.what() + "\n" +
                                Describe());
  }
}

size_t PowerCutModel::ForEachState(
    const std::function<bool(size_t step, const std::map<std::string, std::string>& files)>& visit)
    const {
  Disk disk = Start();
  size_t visited = 0;
  for (size_t step = 0;; ++step) {
    if (step > 0) Apply(step - 1, &disk);
    for (const Combination& combination : CombinationsToVisit(disk.PendingChoices())) {
      disk.Choose(combination);
      ++visited;
      if (!visit(step, disk.Render())) return visited;
    }
    if (step == steps_.size()) return visited;
  }
}

std::map<std::string, std::string> PowerCutModel::Flushed() const {
  Disk disk = Start();
  for (size_t index = 0; index < steps_.size(); ++index) Apply(index, &disk);
  // Nothing chosen yet: each file and folder shows its flushed value.
  return disk.Render();
}

std::map<std::string, std::string> PowerCutModel::FlushedAfter(size_t steps) const {
  Disk disk = Start();
  for (size_t index = 0; index < std::min(steps, steps_.size()); ++index) Apply(index, &disk);
  return disk.Render();
}

std::string PowerCutModel::Describe() const {
  std::string lines;
  for (const ExistingFile& file : existing_) {
    lines += "existing " + file.path + " " + Numbered(file.id) + ", " +
             std::to_string(file.content.size()) + " bytes\n";
  }
  for (size_t index = 0; index < steps_.size(); ++index) {
    lines += std::to_string(index + 1) + " " + steps_[index].Line() + "\n";
  }
  return lines;
}
