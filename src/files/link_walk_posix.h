// Following symbolic links as the save and the load do: one name at a time, every link on the
// way checked before it is followed, so that a link that somebody else planted in a shared
// folder leads nowhere, whatever the system's own settings for such folders are.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "files/step_posix.h"

/// Whether `owner`'s entry in the folder whose status is `folder` was planted there by somebody
/// else: the folder is sticky and everybody may write it (/tmp, a shared drop folder), and the
/// entry belongs neither to this user nor to the folder's owner. The system itself follows such
/// a link, or opens such a file to create it, only where its settings for shared folders say so;
/// a run treats them so whatever those settings are.
bool PlantedInSharedFolder(uid_t owner, const struct stat& folder);

/// What `path` names, with every symbolic link on the way (in its folders and at its end)
/// replaced by where it leads: the path of a file that is there, or of one that is not there
/// yet (a missing name, or the missing target of a link, so that a link stays a link). A link
/// planted in a shared folder by somebody else is not followed. Failed where a link cannot be
/// read or must not be followed (EACCES where it was planted), or a folder on the way cannot be
/// looked into.
Found<std::string> FinalTarget(const std::string& path);
