// The folder operations of updates and removal: a copy of a profile, the clean-up list's
// folder filter, and deleting with contents next to links that point out of the tree.
// Under Wine the links are Unix symlinks made inside the prefix (as in the path helper's
// tests); on Windows, CreateSymbolicLinkW.
#include <windows.h>

#include <gtest/gtest.h>

#include "TestLinks.h"
#include "TestSupport.h"
#include "package/InstallerErrors.h"
#include "library/win/FileSystem.h"
#include "platform/Platform.h"
#include "product/SetupHelper.h"

using namespace kivo;
using namespace kivo::test;
using zel::String;

namespace {

const wchar_t* W(const String& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

std::string Text(const String& path) {
  const auto bytes = ReadAll(path);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(SetupHelper, DeleteWithContentsRemovesLinksNotTheirTargets) {
  RemoveLinkedTree(zel::ExtractFilePath(ScratchDir(u"SetupHelper.probe")) + u"SetupHelper-links");
  const String base = ScratchDir(u"SetupHelper-links");
  const String tree = base + u"\\Tree", outside = base + u"\\Outside";
  for (const String& dir : {tree, outside, outside + u"\\sub", tree + u"\\a", tree + u"\\a\\b"})
    ASSERT_TRUE(::CreateDirectoryW(W(dir), nullptr));
  WriteAll(outside + u"\\keep.txt", Bytes("outside"));
  WriteAll(outside + u"\\sub\\deep.txt", Bytes("deep"));
  WriteAll(tree + u"\\a\\b\\file.txt", Bytes("1"));
  WriteAll(tree + u"\\top.txt", Bytes("2"));
  ::SetFileAttributesW(W(tree + u"\\top.txt"), FILE_ATTRIBUTE_READONLY);
  if (!MakeLink(tree + u"\\a\\toOutside", outside, true)) GTEST_SKIP() << "no symbolic links on this system";
  ASSERT_TRUE(MakeLink(tree + u"\\fileLink.txt", outside + u"\\keep.txt", false));

  // Only-if-empty leaves a full folder alone.
  EXPECT_FALSE(TSetupHelper::DeleteFolder(tree, true));
  EXPECT_TRUE(zel::FileExists(tree + u"\\top.txt"));

  // An empty folder is what a link-following delete would remove unnoticed.
  ASSERT_TRUE(::CreateDirectoryW(W(base + u"\\Empty"), nullptr));
  ASSERT_TRUE(MakeLink(tree + u"\\toEmpty", base + u"\\Empty", true));

  const bool gone = TSetupHelper::DeleteFolder(tree + u"\\", false);
  EXPECT_EQ(Text(outside + u"\\keep.txt"), "outside");
  EXPECT_EQ(Text(outside + u"\\sub\\deep.txt"), "deep");
  EXPECT_TRUE(zel::DirectoryExists(base + u"\\Empty"));
  if (RunsUnderWine()) {
    // Wine follows a folder symlink in every file call, so it cannot remove one: the
    // delete stops at it and reports that the folder stays.
    EXPECT_FALSE(gone);
    EXPECT_NE(::GetFileAttributesW(W(tree)), INVALID_FILE_ATTRIBUTES);
  } else {
    EXPECT_TRUE(gone);
    EXPECT_FALSE(zel::DirectoryExists(tree));
  }

  // A folder that is itself a link: at most the link goes, its target stays whole.
  ASSERT_TRUE(MakeLink(base + u"\\asLink", outside, true));
  EXPECT_EQ(TSetupHelper::DeleteFolder(base + u"\\asLink", false), !RunsUnderWine());
  EXPECT_EQ(Text(outside + u"\\sub\\deep.txt"), "deep");
  EXPECT_TRUE(zel::DirectoryExists(base + u"\\Empty"));
  ASSERT_TRUE(MakeLink(base + u"\\asEmptyLink", base + u"\\Empty", true));
  TSetupHelper::DeleteFolder(base + u"\\asEmptyLink", true);
  EXPECT_TRUE(zel::DirectoryExists(base + u"\\Empty"));
  RemoveLinkedTree(base);
}

TEST(SetupHelper, DeleteStopsAtAFileInUse) {
  const String tree = ScratchDir(u"SetupHelper-locked");
  WriteAll(tree + u"\\held.txt", Bytes("x"));
  ::CreateDirectoryW(W(tree + u"\\sub"), nullptr);
  WriteAll(tree + u"\\sub\\free.txt", Bytes("y"));
  // A long path inside the tree.
  String deep = tree + u"\\sub";
  while (deep.size() < 300) deep += u"\\a rather long folder name";
  ASSERT_TRUE(TSetupHelper::ForceFolder(deep));
  WriteAll(zel::platform::ExtendedLengthPath(deep + u"\\long.txt"), Bytes("3"));
  {
    HANDLE held = ::CreateFileW(W(tree + u"\\held.txt"), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(TSetupHelper::DeleteFolder(tree, false));
    ::CloseHandle(held);
  }
  EXPECT_TRUE(zel::FileExists(tree + u"\\held.txt"));
  EXPECT_TRUE(TSetupHelper::DeleteFolder(tree, false));
  EXPECT_FALSE(zel::DirectoryExists(tree));
  EXPECT_FALSE(TSetupHelper::DeleteFolder(tree, false));  // nothing there: no error either
}

TEST(SetupHelper, CopyFolderCopiesTheTreeAndReportsTheFirstFailure) {
  const String base = ScratchDir(u"SetupHelper-copy");
  const String source = base + u"\\Old\\", target = base + u"\\New\\Nested\\";
  ::CreateDirectoryW(W(source), nullptr);
  ::CreateDirectoryW(W(source + u"Playlists"), nullptr);
  WriteAll(source + u"KIVO3.ini", Bytes("old settings"));
  WriteAll(source + u"Playlists\\Рок.kpl", Bytes("list"));
  TSetupHelper::ForceFolder(target);
  WriteAll(target + u"KIVO3.ini", Bytes("to be replaced"));
  ::SetFileAttributesW(W(target + u"KIVO3.ini"), FILE_ATTRIBUTE_READONLY);

  TSetupHelper::CopyFolder(source, target, false);
  EXPECT_EQ(Text(target + u"KIVO3.ini"), "old settings");
  EXPECT_EQ(Text(target + u"Playlists\\Рок.kpl"), "list");
  EXPECT_EQ(Text(source + u"KIVO3.ini"), "old settings");  // the source stays

  // Same folder in other letters: nothing to do, even where a copy would fail.
  HANDLE held = ::CreateFileW(W(source + u"KIVO3.ini"), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_NO_THROW(TSetupHelper::CopyFolder(source, zel::UpperCase(source), false));
  try {
    TSetupHelper::CopyFolder(source, base + u"\\Other\\", false);
    ADD_FAILURE() << "a file that cannot be read was copied";
  } catch (const EInstallerInstallError& e) {
    EXPECT_EQ(e.Message(), u"Cannot copy \"" + source + u"\" to \"" + base + u"\\Other\\\"");
  }
  ::CloseHandle(held);

  TSetupHelper::CopyFolder(source, base + u"\\Moved\\", true);
  EXPECT_EQ(Text(base + u"\\Moved\\Playlists\\Рок.kpl"), "list");
  EXPECT_FALSE(zel::DirectoryExists(source));
}

TEST(SetupHelper, ExcludeFolderTakesOffEveryEntryBelowTheFolder) {
  TInstallerCleanupList list = {u"C:\\A\\KIVO\\x.ini", u"C:\\A\\kivo\\sub\\y.db", u"C:\\A\\KIVO3\\x.ini",
                                u"C:\\A\\KIVOx.ini",   u"C:\\A\\KIVO\\z",         u"C:\\B\\KIVO\\x.ini"};
  TSetupHelper::ExcludeFolder(list, u"C:\\a\\KIVO\\");
  EXPECT_EQ(list, (TInstallerCleanupList{u"C:\\A\\KIVO3\\x.ini", u"C:\\A\\KIVOx.ini", u"C:\\B\\KIVO\\x.ini"}));
  TSetupHelper::ExcludeFolder(list, u"D:\\");
  EXPECT_EQ(list.size(), 3u);
}
