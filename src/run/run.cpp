#include "run/run.h"

#include "files/own_path.h"
#include "files/program_file.h"
#include "files/settings.h"
#include "run/existence.h"
#include "base/path.h"
#include "run/prune.h"

void RunOnce(const Text& path) {
  if (!PassesExistenceTest(path)) return;
  ProgramFile program;
  program.Load(path);
  SettingsReader settings(ReplaceExtension(OwnExecutablePath(), u".ini"));
  bool test_output = settings.ReadInteger(u"common", u"test", 0) == 1;
  PruneProgram(program);
  program.Save(test_output ? ReplaceExtension(path, u".tap") : path);
}
