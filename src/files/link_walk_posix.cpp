// Following symbolic links one name at a time. Every system call goes through the seam in
// system_calls_posix.h.
#include "files/link_walk_posix.h"

#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <vector>

#include "base/path.h"
#include "files/system_calls_posix.h"

namespace {

/// Whether the link `link`, in the folder `folder` (with its trailing slash, empty for the
/// working folder), may be followed: failed with EACCES where it was planted there.
Step MayFollow(const struct stat& link, const std::string& folder) {
  struct stat st;
  if (os::stat(folder.empty() ? "." : folder.c_str(), &st) != 0) return Step::Failed(errno);
  return PlantedInSharedFolder(link.st_uid, st) ? Step::Failed(EACCES) : Step::Done();
}

/// The names of the path `path` between its slashes, without the empty ones.
std::vector<std::string> NamesOf(std::string_view path) {
  std::vector<std::string> names;
  for (size_t start = 0; start <= path.size();) {
    size_t slash = std::min(path.find('/', start), path.size());
    if (slash > start) names.emplace_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return names;
}

}  // namespace

bool PlantedInSharedFolder(uid_t owner, const struct stat& folder) {
  bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
  return shared && owner != geteuid() && owner != folder.st_uid;
}

Found<std::string> FinalTarget(const std::string& path) {
  constexpr int kMaxLinks = 40;  // as the system's own limit
  // `done` holds no link: a ".." after it is the folder before, as the system finds it.
  std::string done = path.starts_with('/') ? "/" : "";
  std::vector<std::string> names = NamesOf(path);
  std::reverse(names.begin(), names.end());  // the next name last
  int links = 0;
  while (!names.empty()) {
    std::string name = std::move(names.back());
    names.pop_back();
    if (name == "." || (name == ".." && done == "/")) continue;
    if (name == ".." && !done.empty() && done != "/" && !done.ends_with("../")) {
      done.resize(FolderPart(std::string_view(done).substr(0, done.size() - 1)).size());
      continue;
    }
    std::string next = done + name;
    struct stat st;
    if (os::lstat(next.c_str(), &st) != 0) {
      if (errno != ENOENT) return {Step::Failed(errno), ""};
      // Nothing on the way is there: the rest names nothing either.
      for (; !names.empty(); names.pop_back()) next += "/" + names.back();
      return {Step::Done(), path.ends_with('/') ? next + "/" : next};
    }
    if (!S_ISLNK(st.st_mode)) {
      done = names.empty() ? next : next + "/";
      continue;
    }
    if (++links > kMaxLinks) return {Step::Failed(ELOOP), ""};
    if (Step may = MayFollow(st, done); !may.done()) return {may, ""};
    std::vector<char> buffer(PATH_MAX);
    ssize_t length = os::readlink(next.c_str(), buffer.data(), buffer.size());
    if (length < 0) return {Step::Failed(errno), ""};
    if (static_cast<size_t>(length) == buffer.size()) return {Step::Failed(ENAMETOOLONG), ""};
    std::string_view leads_to(buffer.data(), length);
    if (leads_to.starts_with('/')) done.assign(1, '/');
    std::vector<std::string> more = NamesOf(leads_to);
    names.insert(names.end(), more.rbegin(), more.rend());
  }
  // A path that ends in a slash names a folder, whatever the last name is.
  std::string target = done.empty() ? "." : done;
  if (path.ends_with('/') && !target.ends_with('/')) target += '/';
  return {Step::Done(), target};
}
