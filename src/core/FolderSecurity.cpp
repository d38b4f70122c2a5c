#include "core/FolderSecurity.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <memory>
#include <vector>

#include "library/win/Handles.h"
#include "platform/Platform.h"

namespace kivo {

using zel::as_wcstr;
using zel::String;
using zel::StringView;

const wchar_t* const kProtectedFolderSddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

namespace {

// Rights that let their holder replace what is run or loaded: write or append to a
// file, add files or folders to a folder, delete its children or the object itself, or
// take it over.
constexpr ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                      WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) { return ::IsWellKnownSid(sid, type) != FALSE; }

bool IsTrustedInstaller(PSID sid) {
  static const wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
  PSID known = nullptr;
  if (!::ConvertStringSidToSidW(kTrustedInstaller, &known)) return false;
  const zel::TLocalMemory owner(known);
  return ::EqualSid(sid, known) != FALSE;
}

// The account this process runs as, when the process is elevated; empty otherwise.
std::vector<uint8_t> ElevatedUser() {
  if (!::IsUserAnAdmin()) return {};
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  const zel::THandle owner(token);
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<uint8_t> buffer(size);
  if (size == 0 || !::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return {};
  const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  return std::vector<uint8_t>(static_cast<uint8_t*>(sid), static_cast<uint8_t*>(sid) + ::GetLengthSid(sid));
}

bool IsTrusted(PSID sid, const std::vector<uint8_t>& self) {
  if (IsWellKnown(sid, WinLocalSystemSid) || IsWellKnown(sid, WinBuiltinAdministratorsSid) || IsTrustedInstaller(sid))
    return true;
  return !self.empty() && ::EqualSid(sid, const_cast<uint8_t*>(self.data())) != FALSE;
}

String SidName(PSID sid) {
  wchar_t name[256], domain[256];
  DWORD nameSize = 256, domainSize = 256;
  SID_NAME_USE use;
  if (::LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
    const String account = zel::from_wcstr(name);
    return domainSize ? zel::from_wcstr(domain) + u"\\" + account : account;
  }
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(sid, &text)) return u"an unknown account";
  const zel::TLocalMemory owner(text);
  return zel::from_wcstr(text);
}

}  // namespace

bool CreateProtectedFolder(StringView folder) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kProtectedFolderSddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr))
    return false;
  bool created = false;
  DWORD error = 0;
  {
    const zel::TLocalMemory owner(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    const String path = zel::platform::ExtendedLengthPath(zel::ExcludeTrailingBackslash(folder));
    created = ::CreateDirectoryW(as_wcstr(path), &attributes) != FALSE;
    error = ::GetLastError();
  }
  ::SetLastError(error);  // the caller reads why, past the freeing
  return created;
}

String NonAdminWriter(StringView path) {
  bool readable = true;
  return NonAdminWriter(path, readable);
}

String NonAdminWriter(StringView path, bool& readable) {
  readable = true;
  // Through the handle: what is examined is what the name leads to now, the link itself
  // when the name is one.
  const String name = zel::platform::ExtendedLengthPath(path);
  zel::TFileHandle handle(::CreateFileW(as_wcstr(name), READ_CONTROL,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  readable = false;
  if (!handle) return u"an unknown account";
  PSID ownerSid = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(handle.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &ownerSid,
                        nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
    return u"an unknown account";
  const zel::TLocalMemory owner(descriptor);
  readable = true;
  const std::vector<uint8_t> self = ElevatedUser();
  if (ownerSid && !IsTrusted(ownerSid, self)) return SidName(ownerSid);
  if (!dacl) return u"Everyone";  // no DACL: every access is granted
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!::GetAce(dacl, i, reinterpret_cast<void**>(&header))) continue;
    // Deny entries only take rights away, entries only for children do not apply here.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) continue;
    const auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    PSID sid = const_cast<DWORD*>(&ace->SidStart);
    if ((ace->Mask & kChangeRights) && !IsTrusted(sid, self)) return SidName(sid);
  }
  return {};
}

bool IsSafeToRun(StringView folder, StringView file, String& reason) {
  const String root = zel::IncludeTrailingBackslash(String(folder));
  const String target(file);
  if (!zel::StartsWithText(target, root)) {
    reason = u"\"" + target + u"\" is not in \"" + root + u"\"";
    return false;
  }
  // The folder, each folder on the way down, then the file.
  std::vector<String> chain = {zel::ExcludeTrailingBackslash(root)};
  for (size_t at = target.find(u'\\', root.size()); at != String::npos; at = target.find(u'\\', at + 1))
    chain.push_back(target.substr(0, at));
  chain.push_back(target);
  for (const String& path : chain) {
    bool readable = true;
    const String writer = NonAdminWriter(path, readable);
    if (!writer.empty()) {
      reason = readable ? u"\"" + path + u"\" can be changed by " + writer
                        : u"the security of \"" + path + u"\" cannot be read";
      return false;
    }
  }
  return true;
}

}  // namespace kivo
