#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <io.h>
#include <sddl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "trust.h"

namespace {

// Each reason names its fix, as doc/windows.md gives it: a new file with the content, owned by
// the Administrators group, change left to Administrators and SYSTEM, reading to Users. Only a
// new file shuts out a program that opened the old one for writing while it could: a handle keeps
// the access it was granted when it was opened, whatever the access list becomes. The rename
// fails while a program holds the file without sharing its deletion; one that shares it keeps the
// renamed file, which is then deleted.
#define TARNWICK_FIX                                                                            \
  "; the fix, from a console run as administrator: ren C:\\Tarnwick.cfg Tarnwick.old && copy "  \
  "C:\\Tarnwick.old C:\\Tarnwick.cfg && del C:\\Tarnwick.old && icacls C:\\Tarnwick.cfg "       \
  "/setowner *S-1-5-32-544 && icacls C:\\Tarnwick.cfg /inheritance:r /grant:r *S-1-5-32-544:F " \
  "*S-1-5-18:F *S-1-5-32-545:R"
constexpr char kForeignOwner[] =
    "Owned by an account other than Administrators, SYSTEM, TrustedInstaller and the user running "
    "Tarnwick, and an owner may always change who may write to it" TARNWICK_FIX;
constexpr char kNoAccessList[] = "Anyone may change it: it has no access list" TARNWICK_FIX;
constexpr char kUnlabelled[] =
    "Every signed-in user may change it: Authenticated Users may, and no High integrity label "
    "keeps them out" TARNWICK_FIX;
constexpr char kForeignWriter[] =
    "Accounts other than Administrators, SYSTEM, TrustedInstaller and the user running Tarnwick "
    "may change it" TARNWICK_FIX;
#undef TARNWICK_FIX

constexpr char kAdministrators[] = "S-1-5-32-544";
constexpr char kSystem[] = "S-1-5-18";
// NT SERVICE\TrustedInstaller: winnt.h's SECURITY_TRUSTED_INSTALLER_RID1 to 5.
constexpr char kTrustedInstaller[] =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
constexpr char kAuthenticatedUsers[] = "S-1-5-11";
constexpr char kLabelPrefix[] = "S-1-16-";  // an integrity level: its last number

// The rights that change the content, or who may change it.
constexpr ACCESS_MASK kChanges =
    FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// `sid` as text (S-1-...), or empty when there is none.
std::string SidText(PSID sid) {
  char* text = nullptr;
  if (sid == nullptr || !ConvertSidToStringSidA(sid, &text)) return "";
  std::string result = text;
  LocalFree(text);
  return result;
}

// Whether the label in `sacl` keeps every program below High integrity from writing: a label of
// High or above with no-write-up that applies to the file itself. Where there are several, each
// must: which of them Windows applies is not documented.
bool HoldsOutUnelevated(PACL sacl) {
  bool holds = false;
  for (DWORD i = 0; sacl != nullptr && i < sacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(sacl, i, &ace)) return false;
    auto* label = static_cast<SYSTEM_MANDATORY_LABEL_ACE*>(ace);
    if (label->Header.AceType != SYSTEM_MANDATORY_LABEL_ACE_TYPE ||
        (label->Header.AceFlags & INHERIT_ONLY_ACE) != 0) {
      continue;
    }
    const std::string level = SidText(&label->SidStart);
    if ((label->Mask & SYSTEM_MANDATORY_LABEL_NO_WRITE_UP) == 0 ||
        level.compare(0, sizeof kLabelPrefix - 1, kLabelPrefix) != 0 ||
        std::strtoul(level.c_str() + sizeof kLabelPrefix - 1, nullptr, 10) <
            SECURITY_MANDATORY_HIGH_RID) {
      return false;
    }
    holds = true;
  }
  return holds;
}

// Why a file whose owner, access list and label `descriptor` holds must not be trusted by the user
// whose SID is `user`, or null. Only Administrators, SYSTEM, TrustedInstaller and that user may
// own it or be granted a change; with a label that holds out every program not run as
// administrator, so may Authenticated Users, as every file made in C:\ inherits.
const char* DescriptorReason(PSECURITY_DESCRIPTOR descriptor, const std::string& user) {
  const auto trusted = [&](const std::string& sid) {
    return sid == kAdministrators || sid == kSystem || sid == kTrustedInstaller ||
           (!user.empty() && sid == user);
  };
  PSID owner = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !trusted(SidText(owner))) {
    return kForeignOwner;
  }
  PACL dacl = nullptr, sacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present ||
      dacl == nullptr) {
    return kNoAccessList;
  }
  const bool labelled = GetSecurityDescriptorSacl(descriptor, &present, &sacl, &defaulted) &&
                        present && HoldsOutUnelevated(sacl);
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) return kForeignWriter;
    auto* entry = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    const BYTE type = entry->Header.AceType;
    // Denials only take away; an entry for the folder's children is not the file's own.
    if (type == ACCESS_DENIED_ACE_TYPE || type == ACCESS_DENIED_OBJECT_ACE_TYPE ||
        type == ACCESS_DENIED_CALLBACK_ACE_TYPE || type == ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE ||
        (entry->Header.AceFlags & INHERIT_ONLY_ACE) != 0 || (entry->Mask & kChanges) == 0) {
      continue;
    }
    // Every other kind grants; the object kinds keep their SID elsewhere, and count as anyone.
    if (type != ACCESS_ALLOWED_ACE_TYPE && type != ACCESS_ALLOWED_CALLBACK_ACE_TYPE) {
      return kForeignWriter;
    }
    const std::string sid = SidText(&entry->SidStart);
    if (trusted(sid) || (labelled && sid == kAuthenticatedUsers)) continue;
    return sid == kAuthenticatedUsers ? kUnlabelled : kForeignWriter;
  }
  return nullptr;
}

// The SID of the user running this program, as text; empty where it cannot be read.
std::string UserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "";
  alignas(TOKEN_USER) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  const bool read = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
  CloseHandle(token);
  return read ? SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid) : "";
}

// Why the open file `file` must not be trusted as the list of what to start, or null.
const char* UntrustedReason(HANDLE file) {
  if (GetFileType(file) != FILE_TYPE_DISK) return "Not a regular file";
  // Reading owner, access list and label asks for READ_CONTROL alone, which reading a file
  // (GENERIC_READ) includes.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(
          file, SE_FILE_OBJECT,
          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION,
          nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return "Its owner and access list cannot be read";
  }
  const char* reason = DescriptorReason(descriptor, UserSid());
  LocalFree(descriptor);
  return reason;
}

}  // namespace

const char* UntrustedSddlReason(const char* sddl, const char* user) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    return "Not a security descriptor";
  }
  const char* reason = DescriptorReason(descriptor, user);
  LocalFree(descriptor);
  return reason;
}

// Who may write C:\Tarnwick.cfg is set by the access list of C:\ and of the file itself; a folder
// of that name does not open. The opened file itself is checked, not its name again: the name may
// be given to another file in between.
std::FILE* OpenConfig(const char* path, const char** reason) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    *reason = std::strerror(errno);
    return nullptr;
  }
  *reason = UntrustedReason(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))));
  if (*reason == nullptr) return file;
  std::fclose(file);
  return nullptr;
}
