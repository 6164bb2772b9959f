#include "run/run.h"

#include "base/own_path.h"
#include "base/path.h"
#include "program/program_file.h"
#include "run/existence.h"
#include "settings/settings.h"

void RunOnce(const Text& path) {
  if (!PassesExistenceTest(path)) return;
  ProgramFile program;
  program.Load(path);
  SettingsReader settings(ReplaceExtension(OwnExecutablePath(), u".ini"));
  bool test_output = settings.ReadInteger(u"common", u"test", 0) == 1;
  program.Prune();
  program.Save(test_output ? ReplaceExtension(path, u".tap") : path);
}
