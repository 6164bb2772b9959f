// How a save, or one way of saving, ended, and the failure that it raises for it.
#pragma once

#include "base/text.h"

/// How a save, or one way of saving, ended: saved, or one of the failures that the save raises
/// at its top.
struct SaveOutcome {
  enum Kind {
    kSaved,             ///< the new content is in the file and on disk
    kCreateFailed,      ///< the create failure; nothing changed
    kWriteFailed,       ///< the write failure; the file is as it was
    kRestoreFailed,     ///< the write failure, and the old content could not be written back
    kChangedMeanwhile,  ///< the file is no longer the one loaded; nothing written
    kNotYetLasting,     ///< the write failure; the new content is in place, maybe not on disk
  };
  Kind kind = kSaved;
  Text reason;  ///< the system's text, for the create failure
  Text backup;  ///< where the old content lies whole, for kRestoreFailed; empty if nowhere
};

/// Raises the failure that `outcome` stands for, for the file at `path`; returns after kSaved.
void RaiseSaveFailure(const Text& path, const SaveOutcome& outcome);
