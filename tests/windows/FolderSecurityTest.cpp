// Who may change a folder: the protected DACL of a folder the setup creates, read back
// with the API (Wine enforces no ACLs but stores and returns them), and the check that
// keeps the elevated setup from running programs users could have replaced.
#include "core/FolderSecurity.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include "TestLinks.h"
#include "TestSupport.h"
#include "library/win/Handles.h"

using namespace kivo;
using zel::String;

namespace {

const wchar_t* W(const String& s) { return zel::as_wcstr(s); }

// The allow entries of the object's DACL as (SID, mask, flags), and whether it is protected.
struct TAce {
  String Sid;
  ACCESS_MASK Mask;
  BYTE Flags;
};
std::vector<TAce> ReadDacl(const String& path, bool& isProtected) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::vector<TAce> aces;
  if (::GetNamedSecurityInfoW(W(path), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor) != ERROR_SUCCESS)
    return aces;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ::GetSecurityDescriptorControl(descriptor, &control, &revision);
  isProtected = (control & SE_DACL_PROTECTED) != 0;
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    ::GetAce(dacl, i, reinterpret_cast<void**>(&header));
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    wchar_t* text = nullptr;
    ::ConvertSidToStringSidW(&ace->SidStart, &text);
    aces.push_back({zel::from_wcstr(text), ace->Mask, header->AceFlags});
    ::LocalFree(text);
  }
  ::LocalFree(descriptor);
  return aces;
}

}  // namespace

TEST(FolderSecurity, ACreatedFolderGrantsUsersReadAndExecuteOnly) {
  const String folder = test::ScratchDir(u"FolderSecurity-create") + u"\\KIVO";
  ASSERT_TRUE(CreateProtectedFolder(folder + u"\\"));
  EXPECT_FALSE(CreateProtectedFolder(folder));  // never taken over when it exists
  EXPECT_EQ(DWORD(ERROR_ALREADY_EXISTS), ::GetLastError());

  bool isProtected = false;
  const std::vector<TAce> aces = ReadDacl(folder, isProtected);
  // Nobody but administrators may change anything in it.
  EXPECT_EQ(u"", NonAdminWriter(folder));
  if (test::RunsUnderWine()) {
    // Wine keeps a DACL as the Unix mode: its owner, SYSTEM, and "Everyone" for the other
    // users, which a folder made plainly (0755) would have.
    for (const TAce& ace : aces) EXPECT_NE(u"S-1-1-0", ace.Sid) << "Everyone may " << std::hex << ace.Mask;
    return;
  }
  EXPECT_TRUE(isProtected) << "inherits from its parent";
  ASSERT_EQ(3u, aces.size());
  const DWORD inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  EXPECT_EQ(u"S-1-5-18", aces[0].Sid);
  EXPECT_EQ(u"S-1-5-32-544", aces[1].Sid);
  EXPECT_EQ(u"S-1-5-32-545", aces[2].Sid);
  for (const TAce& ace : aces) EXPECT_EQ(inherit, ace.Flags & inherit) << zel::ToUtf8(ace.Sid);
  EXPECT_EQ(ACCESS_MASK(FILE_GENERIC_READ | FILE_GENERIC_EXECUTE), aces[2].Mask);
}

TEST(FolderSecurity, ProgramsRunOnlyWhereNoUserCanChangeAnything) {
  const String base = test::ScratchDir(u"FolderSecurity-run");
  const String dest = base + u"\\KIVO\\";
  ASSERT_TRUE(CreateProtectedFolder(dest));
  ASSERT_TRUE(::CreateDirectoryW(W(dest + u"System"), nullptr));
  const String library = dest + u"System\\kivo_menu64.dll";
  test::WriteAll(library, test::Bytes("MZ"));
  String reason;
  EXPECT_TRUE(IsSafeToRun(dest, library, reason)) << zel::ToUtf8(reason);

  // Each place on the way given to everyone to change (Wine keeps exactly this kind of
  // entry, as the Unix mode): the folder, the subfolder, the file itself.
  for (const String& place : {zel::ExcludeTrailingBackslash(dest), dest + u"System", library}) {
    SCOPED_TRACE(zel::ToUtf8(place));
    ASSERT_TRUE(test::SetFileDacl(place, L"D:P(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;WD)"));
    reason.clear();
    EXPECT_FALSE(IsSafeToRun(dest, library, reason));
    EXPECT_NE(String::npos, reason.find(u"\"" + place + u"\" can be changed by Everyone")) << zel::ToUtf8(reason);
    ASSERT_TRUE(test::SetFileDacl(place, kProtectedFolderSddl));
    EXPECT_TRUE(IsSafeToRun(dest, library, reason)) << zel::ToUtf8(reason);
  }
  EXPECT_FALSE(IsSafeToRun(dest, base + u"\\Elsewhere.exe", reason));
}
