#include "base/path.h"

#include <algorithm>
#include <vector>

Text ReplaceExtension(TextView path, TextView extension, TextView stops) {
  size_t stop = path.find_last_of(stops);
  if (stop != TextView::npos && path[stop] == u'.') path = path.substr(0, stop);
  Text result(path);
  result += extension;
  return result;
}

namespace {

template <typename View>
View FolderPartOf(View path, View separators) {
  size_t separator = path.find_last_of(separators);
  return separator == View::npos ? View() : path.substr(0, separator + 1);
}

}  // namespace

TextView FolderPart(TextView path, TextView separators) { return FolderPartOf(path, separators); }

std::string_view FolderPart(std::string_view path) {
  return FolderPartOf(path, std::string_view("/"));
}

TextView NamePart(TextView path, TextView separators) {
  size_t separator = path.find_last_of(separators);
  return separator == TextView::npos ? path : path.substr(separator + 1);
}

Text FoldedPath(TextView absolute, const LinkTest& is_link) {
  std::vector<TextView> parts;
  Text folded;          // the parts so far, each after a slash
  bool linked = false;  // whether a link stands among the parts
  size_t start = 1;
  while (start <= absolute.size()) {
    size_t slash = absolute.find(u'/', start);
    if (slash == TextView::npos) slash = absolute.size();
    TextView part = absolute.substr(start, slash - start);
    start = slash + 1;
    if (part.empty() || part == u".") continue;
    if (part == u".." && !linked) {
      if (!parts.empty()) {
        folded.resize(folded.size() - parts.back().size() - 1);
        parts.pop_back();
      }
      continue;
    }
    parts.push_back(part);
    folded += u'/';
    folded += part;
    // Only a ".." still to come asks whether a link stands here.
    bool back_later = absolute.find(u"..", std::min(start, absolute.size())) != TextView::npos;
    if (!linked && is_link && back_later) linked = is_link(folded);
  }
  if (folded.empty() || (!absolute.empty() && absolute.back() == u'/')) folded.push_back(u'/');
  return folded;
}

Text WithLongPrefix(TextView absolute) {
  bool drive = absolute.size() >= 3 && absolute[1] == u':' && absolute[2] == u'\\';
  if (drive) return u"\\\\?\\" + Text(absolute);
  bool share = absolute.starts_with(u"\\\\") && absolute.size() > 2 && absolute[2] != u'?' &&
               absolute[2] != u'.' && absolute[2] != u'\\';
  if (share) return u"\\\\?\\UNC\\" + Text(absolute.substr(2));
  return Text(absolute);
}

Text WithoutLongPrefix(TextView path) {
  if (path.starts_with(u"\\\\?\\UNC\\")) return u"\\\\" + Text(path.substr(8));
  if (path.starts_with(u"\\\\?\\") && path.size() >= 6 && path[5] == u':') {
    return Text(path.substr(4));
  }
  return Text(path);
}
