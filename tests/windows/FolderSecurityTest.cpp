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
  EXPECT_TRUE(isProtected) << "inherits from its parent";
  ASSERT_EQ(3u, aces.size());
  const DWORD inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  EXPECT_EQ(u"S-1-5-18", aces[0].Sid);
  EXPECT_EQ(u"S-1-5-32-544", aces[1].Sid);
  EXPECT_EQ(u"S-1-5-32-545", aces[2].Sid);
  for (const TAce& ace : aces) EXPECT_EQ(inherit, ace.Flags & inherit) << zel::ToUtf8(ace.Sid);
  EXPECT_EQ(ACCESS_MASK(FILE_ALL_ACCESS), aces[0].Mask);
  EXPECT_EQ(ACCESS_MASK(FILE_GENERIC_READ | FILE_GENERIC_EXECUTE), aces[2].Mask);
  EXPECT_EQ(0u, aces[2].Mask & (FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC));
  EXPECT_EQ(u"", NonAdminWriter(folder));
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

  // Each place on the way, given to a group of ordinary users by one right that suffices
  // to put another library there: the folder, the subfolder, the file itself.
  const struct {
    String Path;
    const wchar_t* Dacl;
    const char16_t* Writer;  // what the reason names
  } cases[] = {
      {dest, L"D:P(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;;0x4;;;BU)", u"Users"},          // add folders
      {dest, L"D:P(A;OICI;FA;;;BA)(A;;0x1301bf;;;AU)", u"Authenticated Users"},                // modify
      {dest + u"System", L"D:P(A;OICI;FA;;;SY)(A;;0x40;;;WD)", u"Everyone"},                  // delete children
      {library, L"D:P(A;;FA;;;BA)(A;;0x2;;;IU)", u"INTERACTIVE"},                             // write
      {library, L"D:P(A;;FA;;;BA)(A;;0x40000;;;BU)", u"Users"},                               // change the DACL
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(zel::ToUtf8(c.Path));
    ASSERT_TRUE(test::SetFileDacl(c.Path, c.Dacl));
    reason.clear();
    EXPECT_FALSE(IsSafeToRun(dest, library, reason));
    EXPECT_NE(String::npos, reason.find(c.Writer)) << zel::ToUtf8(reason);
    EXPECT_NE(String::npos, reason.find(u"\"" + zel::ExcludeTrailingBackslash(c.Path) + u"\"")) << zel::ToUtf8(reason);
    // Put back: read and run for users, nothing more.
    ASSERT_TRUE(test::SetFileDacl(c.Path, kProtectedFolderSddl));
  }
  // Entries that only apply to what is created inside, and deny entries, grant nothing here.
  ASSERT_TRUE(test::SetFileDacl(dest, L"D:P(A;OICI;FA;;;BA)(A;OICIIO;FA;;;CO)(D;;FA;;;BU)"));
  EXPECT_TRUE(IsSafeToRun(dest, library, reason)) << zel::ToUtf8(reason);
  EXPECT_FALSE(IsSafeToRun(dest, base + u"\\Elsewhere.exe", reason));
}
