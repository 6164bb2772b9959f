#include "run/extension.h"

Text ReplaceExtension(TextView path, TextView extension, TextView stops) {
  size_t stop = path.find_last_of(stops);
  if (stop != TextView::npos && path[stop] == u'.') path = path.substr(0, stop);
  Text result(path);
  result += extension;
  return result;
}
