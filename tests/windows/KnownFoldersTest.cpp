// Shell folders read from a user's own settings: which ones the elevated setup may clean
// up in, against the machine's folders, another account's profile and links.
#include "library/win/KnownFolders.h"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "TestLinks.h"
#include "TestSupport.h"
#include "library/win/Handles.h"

using namespace zel;

namespace {

String Special(int csidl) { return CsidlFolder(csidl); }

}  // namespace

TEST(KnownFolders, ShellFoldersThatAreNotTheUsersOwnAreRefused) {
  const String base = kivo::test::ScratchDir(u"KnownFolders-shell");
  const String profile = Special(CSIDL_PROFILE);
  const String mine = base + u"\\Start Menu";
  ASSERT_TRUE(::CreateDirectoryW(as_wcstr(mine), nullptr));
  // A start menu that is a link to the common one: its "KIVO" is all users' shortcuts.
  const String linked = base + u"\\Linked Menu";
  ASSERT_TRUE(kivo::test::MakeLink(linked, Special(CSIDL_COMMON_STARTMENU), true));
  wchar_t windows[MAX_PATH];
  ::GetWindowsDirectoryW(windows, MAX_PATH);
  const String toWindows = base + u"\\Windows Menu", toMine = base + u"\\My Menu";
  ASSERT_TRUE(kivo::test::MakeLink(toWindows, from_wcstr(windows), true));
  ASSERT_TRUE(kivo::test::MakeLink(toMine, mine, true));

  const struct {
    String Folder;
    int Csidl;
    const char16_t* Reason;  // the start of the reason; empty when the folder may be used
  } cases[] = {
      {Special(CSIDL_STARTMENU), CSIDL_STARTMENU, u""},
      {Special(CSIDL_DESKTOPDIRECTORY), CSIDL_DESKTOP, u""},
      {Special(CSIDL_APPDATA) + u"\\", CSIDL_APPDATA, u""},
      {mine, CSIDL_STARTMENU, u""},
      {u"C:\\", CSIDL_STARTMENU, u"it is the root of a drive"},
      {from_wcstr(windows) + u"\\Temp", CSIDL_STARTMENU, u"it is a folder of Windows"},
      {Special(CSIDL_PROGRAM_FILES) + u"\\Tools", CSIDL_DESKTOP, u"it lies in a program folder"},
      {Special(CSIDL_APPDATA), CSIDL_STARTMENU, u"it is the folder"},
      {Special(CSIDL_COMMON_STARTMENU), CSIDL_STARTMENU, u"it is the folder"},
      {Special(CSIDL_PERSONAL), CSIDL_DESKTOP, u"it is the folder"},
      {profile, CSIDL_APPDATA, u"it is the folder"},
      {ExtractFilePath(profile), CSIDL_STARTMENU, u"it is the folder"},  // the profiles root
      {Special(CSIDL_APPDATA) + u"\\Microsoft", CSIDL_APPDATA, u""},     // holds the start menu
      {linked, CSIDL_STARTMENU, u"it leads through a link"},
      {toWindows, CSIDL_STARTMENU, u"it leads through a link"},
      {toMine + u"\\", CSIDL_STARTMENU, u""},  // judged, and used, where it leads
      {base + u"\\missing", CSIDL_STARTMENU, u"it does not exist"},
      {u"  ", CSIDL_STARTMENU, u"it is empty"},
  };
  for (const auto& c : cases) {
    const String reason = UnsafeShellFolderReason(c.Folder, c.Csidl, profile);
    EXPECT_TRUE(StartsWith(reason, c.Reason) && (reason.empty() == (c.Reason[0] == 0)))
        << ToUtf8(c.Folder) << ": " << ToUtf8(reason);
  }
  String usable;
  EXPECT_EQ(u"", UnsafeShellFolderReason(toMine, CSIDL_STARTMENU, profile, &usable));
  EXPECT_TRUE(SameText(usable, mine)) << ToUtf8(usable);
  EXPECT_EQ(String(kShellFolderMissing), UnsafeShellFolderReason(base + u"\\missing", CSIDL_STARTMENU, profile));

  // Seen from another account whose profile lies elsewhere, the running user's folders
  // are another account's.
  const String elsewhere = u"C:\\kivo-elsewhere\\other profile";
  EXPECT_TRUE(StartsWith(UnsafeShellFolderReason(Special(CSIDL_STARTMENU), CSIDL_STARTMENU, elsewhere),
                         u"it lies in the profile of another account"));
  kivo::test::RemoveLinkedTree(base);
}
