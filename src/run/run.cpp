#include "run/run.h"

#include "files/line_list.h"
#include "files/own_path.h"
#include "files/settings.h"
#include "run/existence.h"
#include "run/extension.h"
#include "run/prune.h"

void RunOnce(const Text& path) {
  if (!PassesExistenceTest(path)) return;
  LineList lines;
  lines.Load(path);
  SettingsReader settings(ReplaceExtension(OwnExecutablePath(), u".ini"));
  bool test_output = settings.ReadInteger(u"common", u"test", 0) == 1;
  PruneMoves(lines, SelectMarkerSet(lines));
  lines.Save(test_output ? ReplaceExtension(path, u".tap") : path);
}
