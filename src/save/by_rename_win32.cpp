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

// The attributes that a new file can be given. A file with any other (compressed, encrypted,
// sparse, a reparse point, offline, an integrity stream) is written in place.
constexpr DWORD kCarriedAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL |
                                     FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// ---------------------------------------------------------------------------------------------
// What a new file can keep

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

/// Whether a new file can be given everything that the open file has: it has no further names,
/// no attributes but those a new file takes, no named streams and no label of its own.
bool NewFileCanKeepAll(HANDLE file, const BY_HANDLE_FILE_INFORMATION& information) {
  return information.nNumberOfLinks == 1 &&
         (information.dwFileAttributes & ~kCarriedAttributes) == 0 && !HasNamedStreams(file) &&
         !HasOwnLabel(file);
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
// Putting the new file in place

/// Puts the open new file, written and flushed, at `target`, and makes the rename durable. The
/// rename either happens whole or not at all; where it reports a failure, the file is looked for
/// where it should be, so that a rename that took place all the same is never undone by deleting
/// the file, which now holds the name.
SaveOutcome PutInPlace(NewFile& file, const Text& target, bool replace) {
  if (!RenameTo(file, target, replace)) {
    DWORD error = GetLastError();
    bool known = false;
    if (!RenamedAllTheSame(file, target, &known)) {
      if (known) return Failed(SaveOutcome::kTryInPlace, error);
      file.Keep();  // wherever it is, it is not deleted
      return Failed(SaveOutcome::kCreateFailed, error);
    }
  }
  // Written through: a reported success survives a power cut. The new content is in place
  // whatever the flush says, and the failure says so.
  bool durable = os::FlushFileBuffers(file.get());
  file.Keep();
  return durable ? SaveOutcome() : Failed(SaveOutcome::kNotYetLasting);
}

}  // namespace

SaveOutcome ReplaceByRename(Existing& existing, const Text& target, const FileContent& content) {
  const SaveOutcome another_way = Failed(SaveOutcome::kTryInPlace);
  Security security;
  if (!NewFileCanKeepAll(existing.file.get(), existing.information) ||
      !ReadSecurity(existing.file.get(), &security)) {
    return another_way;
  }
  NewFile file;
  if (!CreateBeside(FolderOf(target), &file) || !GiveSecurity(file.get(), security) ||
      !GiveAttributesAndTimes(file.get(), existing.information)) {
    return another_way;
  }
  if (!WriteNew(file, content)) {
    return NoRoom(GetLastError()) ? another_way : Failed(SaveOutcome::kWriteFailed);
  }
  // A file that anybody holds open cannot be replaced: the old one is let go right before.
  existing.file.Reset(INVALID_HANDLE_VALUE);
  return PutInPlace(file, target, true);
}

// ---------------------------------------------------------------------------------------------
// A new file

SaveOutcome CreateNew(const Text& target, const FileContent& content) {
  NewFile file;
  if (CreateBeside(FolderOf(target), &file)) {
    if (!WriteNew(file, content)) return Failed(SaveOutcome::kWriteFailed);
    SaveOutcome put = PutInPlace(file, target, false);
    if (put.kind != SaveOutcome::kTryInPlace) return put;
    file.Discard();
  }
  if (!file.Create(target)) return Failed(SaveOutcome::kCreateFailed, GetLastError());
  if (!WriteNew(file, content)) return Failed(SaveOutcome::kWriteFailed);
  file.Keep();
  return SaveOutcome();
}
