// The way by rename on Windows: a new file beside the file, given first the old file's
// security, attributes and creation time, then written and flushed, takes the old file's name in
// one step through its own handle, so that the name never goes missing. A file not there yet is
// made the same way, and where no file can be made or renamed beside it, under its own name.
// Every call that can fail goes through the seam in system_calls_win32.h.
#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>

#include <algorithm>
#include <string_view>

#include "save/steps_win32.h"
#include "save/ways_win32.h"

namespace {

// ---------------------------------------------------------------------------------------------
// What a new file can keep

// The attributes that a new file can be given. A file with any other (compressed, encrypted,
// sparse, a reparse point, offline, an integrity stream) is written in place.
constexpr DWORD kCarriedAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL |
                                     FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

/// Whether the open file has streams besides its content, which a new file would not get. True
/// where it cannot be told; false on a file system that has no streams at all.
bool HasNamedStreams(HANDLE file) {
  alignas(FILE_STREAM_INFO) char room[4096];
  if (!os::GetFileInformationByHandleEx(file, FileStreamInfo, room, sizeof room)) {
    DWORD error = GetLastError();
    return !NotOffered(error) && error != ERROR_HANDLE_EOF;
  }
  // The content is the one unnamed stream, "::$DATA"; any entry besides it is a named stream.
  const auto* stream = reinterpret_cast<const FILE_STREAM_INFO*>(room);
  std::wstring_view name(stream->StreamName, stream->StreamNameLength / sizeof(wchar_t));
  return stream->NextEntryOffset != 0 || name != L"::$DATA";
}

/// Whether the open file has an integrity label of its own, not one it takes from its folder,
/// which a new file would not get. True where it cannot be told.
bool HasOwnLabel(HANDLE file) {
  PACL labels = nullptr;
  LocalMemory descriptor;
  DWORD error = os::GetSecurityInfo(file, SE_FILE_OBJECT, LABEL_SECURITY_INFORMATION, nullptr,
                                    nullptr, nullptr, &labels, descriptor.out());
  if (error != ERROR_SUCCESS) return !NotOffered(error);
  if (!labels) return false;
  const auto* entry = reinterpret_cast<const BYTE*>(labels + 1);
  for (WORD index = 0; index < labels->AceCount; ++index) {
    const auto* header = reinterpret_cast<const ACE_HEADER*>(entry);
    if (!(header->AceFlags & INHERITED_ACE)) return true;
    entry += header->AceSize;
  }
  return false;
}

/// The security of a file that a new file must be given: its owner, its group and its access
/// list, and whether that list is protected from its folder's entries.
struct Security {
  PSID owner = nullptr;
  PSID group = nullptr;
  PACL access = nullptr;
  bool protected_access = false;
  LocalMemory descriptor;
};

/// Reads the security of the open file; false where it cannot.
bool ReadSecurity(HANDLE file, Security* security) {
  constexpr SECURITY_INFORMATION kWhich =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  if (os::GetSecurityInfo(file, SE_FILE_OBJECT, kWhich, &security->owner, &security->group,
                          &security->access, nullptr,
                          security->descriptor.out()) != ERROR_SUCCESS) {
    return false;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(*security->descriptor.out(), &control, &revision);
  security->protected_access = (control & SE_DACL_PROTECTED) != 0;
  return true;
}

bool SameSid(PSID one, PSID other) { return one && other && EqualSid(one, other); }

/// Whether two access lists are the same, entry by entry, and equally protected.
bool SameAccess(const Security& one, const Security& other) {
  if (one.protected_access != other.protected_access) return false;
  if (!one.access || !other.access) return one.access == other.access;
  const auto* first = reinterpret_cast<const BYTE*>(one.access);
  const auto* second = reinterpret_cast<const BYTE*>(other.access);
  return one.access->AclSize == other.access->AclSize &&
         std::equal(first, first + one.access->AclSize, second);
}

/// Gives the open file the access list of `old`, as it is. False where it cannot.
bool GiveAccess(HANDLE file, const Security& old) {
  SECURITY_INFORMATION access =
      DACL_SECURITY_INFORMATION | (old.protected_access ? PROTECTED_DACL_SECURITY_INFORMATION
                                                        : UNPROTECTED_DACL_SECURITY_INFORMATION);
  return os::SetSecurityInfo(file, SE_FILE_OBJECT, access, nullptr, nullptr, old.access, nullptr) ==
         ERROR_SUCCESS;
}

/// Gives the new file the security of the old one where it got another: the old access list as
/// it is (inherited entries stay inherited, taken from the folder, unless the old list is
/// protected), and the old owner and group. False where any of it cannot be given. (A file system
/// that keeps no security shows the same to both files, and nothing is given.)
bool GiveSecurity(HANDLE file, const Security& old) {
  Security now;
  if (!ReadSecurity(file, &now)) return false;
  if (!SameAccess(now, old) && !GiveAccess(file, old)) return false;
  // The new file's owner and group are the ones that this process gives new files there
  // (TokenOwner and TokenPrimaryGroup of its token, or what a server maps them to on a share).
  SECURITY_INFORMATION which = 0;
  if (!SameSid(now.owner, old.owner)) which |= OWNER_SECURITY_INFORMATION;
  if (!SameSid(now.group, old.group)) which |= GROUP_SECURITY_INFORMATION;
  // Only an owner that the user may give is taken: any other is refused ("invalid owner").
  return which == 0 || os::SetSecurityInfo(file, SE_FILE_OBJECT, which, old.owner, old.group,
                                           nullptr, nullptr) == ERROR_SUCCESS;
}

/// Gives the new file the old one's attributes (hidden, system, …) and creation time, marked as
/// changed for backups.
bool GiveAttributesAndTimes(HANDLE file, const BY_HANDLE_FILE_INFORMATION& old) {
  FILE_BASIC_INFO basic = {};  // times of zero stay as they are
  basic.CreationTime.QuadPart = Ticks(old.ftCreationTime);
  basic.FileAttributes =
      (old.dwFileAttributes & kCarriedAttributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_ARCHIVE;
  return os::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
}

// ---------------------------------------------------------------------------------------------
// Writing the new file

/// Writes the content into the new file and flushes it.
Step WriteNew(NewFile& file, const FileContent& content) {
  if (Step written = WriteContent(file.get(), content); !written.done()) return written;
  return os::FlushFileBuffers(file.get()) ? Step::Done() : Step::Failed(GetLastError());
}

// ---------------------------------------------------------------------------------------------
// Putting the new file in place

/// The way ended with `outcome`.
Renamed Ended(SaveOutcome outcome) { return {false, std::move(outcome)}; }

/// Nothing changed: the file is to be written another way (in place; a new file under its own
/// name).
const Renamed kInPlace = {true, SaveOutcome()};

/// Puts the open new file, written and flushed, at `target`, and makes the rename durable. The
/// rename either happens whole or not at all; where it reports a failure, the file is looked for
/// where it should be, so that a rename that took place all the same is never undone by deleting
/// the file, which now holds the name.
Renamed PutInPlace(NewFile& file, const Text& target, bool replace) {
  if (Step renamed = RenameTo(file, target, replace); !renamed.done()) {
    switch (RenamedAllTheSame(file, target)) {
      case AllTheSame::kRenamed:
        break;
      case AllTheSame::kNotRenamed:
        return kInPlace;
      case AllTheSame::kUnknown:
        file.Keep();  // wherever it is, it is not deleted
        return Ended(Failed(SaveOutcome::kCreateFailed, renamed.error()));
    }
  }
  // Written through: a reported success survives a power cut. The new content is in place
  // whatever the flush says, and the failure says so.
  bool durable = os::FlushFileBuffers(file.get());
  file.Keep();
  return Ended(durable ? SaveOutcome() : Failed(SaveOutcome::kNotYetLasting));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The way by rename

bool NewFileCanKeepAll(HANDLE file, const BY_HANDLE_FILE_INFORMATION& information) {
  return information.nNumberOfLinks == 1 &&
         (information.dwFileAttributes & ~kCarriedAttributes) == 0 && !HasNamedStreams(file) &&
         !HasOwnLabel(file);
}

Renamed ReplaceByRename(Existing& existing, const Text& target, const FileContent& content) {
  Security security;
  if (!ReadSecurity(existing.file.get(), &security)) return kInPlace;
  NewFile file;
  if (!CreateBeside(FolderOf(target), &file).done() || !GiveSecurity(file.get(), security) ||
      !GiveAttributesAndTimes(file.get(), existing.information)) {
    return kInPlace;
  }
  if (Step written = WriteNew(file, content); !written.done()) {
    return NoRoom(written.error()) ? kInPlace : Ended(Failed(SaveOutcome::kWriteFailed));
  }
  // A file that anybody holds open cannot be replaced: the old one is let go right before.
  existing.file.Reset(INVALID_HANDLE_VALUE);
  return PutInPlace(file, target, true);
}

SaveOutcome CreateNew(const Text& target, const FileContent& content) {
  NewFile file;
  if (CreateBeside(FolderOf(target), &file).done()) {
    if (!WriteNew(file, content).done()) return Failed(SaveOutcome::kWriteFailed);
    Renamed put = PutInPlace(file, target, false);
    if (!put.in_place) return put.outcome;
    file.Discard();
  }
  if (Step created = file.Create(target); !created.done()) {
    return Failed(SaveOutcome::kCreateFailed, created.error());
  }
  if (!WriteNew(file, content).done()) return Failed(SaveOutcome::kWriteFailed);
  file.Keep();
  return SaveOutcome();
}
