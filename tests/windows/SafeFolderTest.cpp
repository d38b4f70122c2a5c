// The file layer: links at the top, in the middle and at the end of a path are never gone
// through, a folder swapped for a link after it was listed is met as a link, and deletes
// and renames act on the entry by handle. Under Wine the links are Unix symlinks, which
// Wine follows in every call: the layer must see them all the same.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "TestLinks.h"
#include "TestSupport.h"
#include "library/win/FileSystem.h"
#include "library/win/SafeTree.h"
#include "platform/Platform.h"

using namespace kivo::test;
using zel::String;
using zel::TSafeFolder;

namespace {

const wchar_t* W(const String& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
void Folder(const String& path) { ::CreateDirectoryW(W(path), nullptr); }
std::string Text(const String& path) {
  const auto bytes = ReadAll(path);
  return std::string(bytes.begin(), bytes.end());
}

String LinkSafeScratch(const String& name) {
  RemoveLinkedTree(ScratchDir(name));
  return ScratchDir(name);
}

// Real\Sub\file.txt beside Outside\Sub\secret.txt, and links into Outside from the top,
// the middle and the end of paths below Real.
struct TLinkedTree {
  String Base, Real, Outside;
  bool Linked = false;
  explicit TLinkedTree(const String& name) : Base(LinkSafeScratch(name)) {
    Real = Base + u"\\Real\\";
    Outside = Base + u"\\Outside\\";
    for (const String& folder : {Real, Real + u"Sub\\", Outside, Outside + u"Sub\\"}) Folder(folder);
    WriteAll(Real + u"Sub\\file.txt", Bytes("ours"));
    WriteAll(Outside + u"Sub\\secret.txt", Bytes("secret"));
    Linked = MakeLink(Base + u"\\TopLink", Outside, true) && MakeLink(Real + u"MidLink", Outside, true) &&
             MakeLink(Real + u"Sub\\EndLink.txt", Outside + u"Sub\\secret.txt", false) &&
             MakeLink(Real + u"Sub\\EndFolderLink", Outside + u"Sub", true);
  }
  bool OutsideIntact() const {
    return zel::FileExists(Outside + u"Sub\\secret.txt") && Text(Outside + u"Sub\\secret.txt") == "secret";
  }
};

}  // namespace

TEST(SafeFolder, LinksAtTheTopInTheMiddleAndAtTheEndAreNeverGoneThrough) {
  TLinkedTree t(u"SafeFolder-links");
  if (!t.Linked) GTEST_SKIP() << "no symbolic links on this system";
  using TTrust = TSafeFolder::TTrust;

  // The top: the folder itself is a link; a link above is the administrator's choice only
  // where the path is taken as given.
  EXPECT_THROW(TSafeFolder::Open(t.Base + u"\\TopLink"), zel::ELinkedPathError);
  EXPECT_THROW(TSafeFolder::Open(t.Base + u"\\TopLink\\Sub", TTrust::NoLinks), zel::ELinkedPathError);
  EXPECT_NO_THROW(TSafeFolder::Open(t.Base + u"\\TopLink\\Sub", TTrust::PathAsGiven));
  EXPECT_THROW(TSafeFolder::Create(t.Base + u"\\TopLink\\New", TTrust::NoLinks), zel::ELinkedPathError);
  EXPECT_FALSE(zel::DirectoryExists(t.Outside + u"New"));
  EXPECT_NO_THROW(TSafeFolder::Open(t.Real, TTrust::NoLinks));

  // The middle: a folder on the way below a held root.
  zel::TFolderTree tree(TSafeFolder::Open(t.Real));
  EXPECT_THROW(tree.Folder(u"MidLink\\Sub\\"), zel::ELinkedPathError);
  EXPECT_THROW(tree.Folder(u"MidLink\\Made\\", true), zel::ELinkedPathError);
  EXPECT_FALSE(zel::DirectoryExists(t.Outside + u"Made"));
  EXPECT_THROW(TSafeFolder::Create(t.Real + u"MidLink\\Made"), zel::ELinkedPathError);

  // The end: the entry itself.
  const TSafeFolder* sub = tree.Folder(u"Sub\\");
  ASSERT_NE(sub, nullptr);
  EXPECT_THROW(sub->OpenFile(u"EndLink.txt", GENERIC_READ, FILE_SHARE_READ), zel::ELinkedPathError);
  EXPECT_THROW(sub->OpenFolder(u"EndFolderLink"), zel::ELinkedPathError);
  EXPECT_THROW(sub->CreateNewFile(u"EndLink.txt", GENERIC_WRITE), zel::EOSError);  // the name is taken
  EXPECT_TRUE(sub->OpenFile(u"file.txt", GENERIC_READ, FILE_SHARE_READ));
  EXPECT_FALSE(sub->OpenFile(u"missing.txt", GENERIC_READ, FILE_SHARE_READ));
  EXPECT_THROW(sub->OpenFile(u"..\\..\\Outside\\Sub\\secret.txt", GENERIC_READ, 0), zel::ELinkedPathError);

  // A walk reports the file link as a link and never enters a folder link.
  std::vector<std::string> seen;
  zel::ForEachFile(tree.Root(), [&](const TSafeFolder&, const zel::TFolderEntry& entry, const String& relative) {
    seen.push_back(zel::ToUtf8(relative) + (entry.IsLink() ? " (link)" : ""));
  });
  std::sort(seen.begin(), seen.end());
  // Wine lists a Unix link to a file as a file: only opening it shows the link.
  const std::string fileLink = RunsUnderWine() ? "Sub\\EndLink.txt" : "Sub\\EndLink.txt (link)";
  EXPECT_EQ(seen, (std::vector<std::string>{fileLink, "Sub\\file.txt"}));

  // A copy into a tree that holds a link where a folder goes stops there.
  const TSafeFolder source = TSafeFolder::Create(t.Base + u"\\Source\\Sub");
  WriteAll(t.Base + u"\\Source\\Sub\\secret.txt", Bytes("overwritten"));
  Folder(t.Base + u"\\Target");
  ASSERT_TRUE(MakeLink(t.Base + u"\\Target\\Sub", t.Outside + u"Sub", true));
  EXPECT_THROW(zel::CopyTree(TSafeFolder::Open(t.Base + u"\\Source"), TSafeFolder::Open(t.Base + u"\\Target")),
               zel::ELinkedPathError);

  // Deleting the end link removes at most the link (Windows); Wine cannot, and leaves it.
  const zel::TDeleteResult removed = sub->DeleteEntry(u"EndLink.txt");
  EXPECT_EQ(removed, RunsUnderWine() ? zel::TDeleteResult::Refused : zel::TDeleteResult::Deleted);
  EXPECT_EQ(zel::DeleteTree(tree.Root(), u"MidLink"), !RunsUnderWine());
  EXPECT_TRUE(t.OutsideIntact());
  RemoveLinkedTree(t.Base);
}

TEST(SafeFolder, AFolderSwappedForALinkAfterItWasListedIsNotEntered) {
  TLinkedTree t(u"SafeFolder-swap");
  if (!t.Linked) GTEST_SKIP() << "no symbolic links on this system";
  const String tree = t.Base + u"\\Tree\\";
  for (const String& folder : {tree, tree + u"A\\", tree + u"B\\"}) Folder(folder);
  WriteAll(tree + u"A\\a.txt", Bytes("a"));
  WriteAll(tree + u"B\\b.txt", Bytes("b"));
  const TSafeFolder root = TSafeFolder::Open(tree);
  const std::vector<zel::TFolderEntry> listed = root.List();
  ASSERT_EQ(listed.size(), 2u);
  ASSERT_TRUE(listed[0].IsFolder() && !listed[0].IsLink());

  // "A" is entered by handle before the swap, "B" is only listed: both are swapped for
  // links into Outside, as a user would between the listing and the delete.
  std::optional<TSafeFolder> heldA = root.OpenFolder(u"A");
  ASSERT_TRUE(heldA);
  ASSERT_TRUE(::MoveFileW(W(tree + u"A"), W(t.Base + u"\\A moved")));
  ASSERT_TRUE(::MoveFileW(W(tree + u"B"), W(t.Base + u"\\B moved")));
  ASSERT_TRUE(MakeLink(tree + u"A", t.Outside + u"Sub", true));
  ASSERT_TRUE(MakeLink(tree + u"B", t.Outside + u"Sub", true));

  // The held folder is the real one, wherever its name went (Wine cannot tell where a
  // renamed folder went, and refuses instead).
  EXPECT_EQ(zel::DeleteContents(*heldA), !RunsUnderWine());
  EXPECT_EQ(zel::FileExists(t.Base + u"\\A moved\\a.txt"), RunsUnderWine());
  // The listed one is met as the link it now is.
  EXPECT_EQ(zel::DeleteTree(root, u"B"), !RunsUnderWine());
  EXPECT_TRUE(zel::FileExists(t.Base + u"\\B moved\\b.txt"));
  EXPECT_TRUE(t.OutsideIntact());
  RemoveLinkedTree(t.Base);
}

TEST(SafeFolder, DeletesRenamesAndCopiesActOnTheEntryByHandle) {
  const String base = ScratchDir(u"SafeFolder-handles");
  const TSafeFolder folder = TSafeFolder::Create(base + u"\\Made\\Deep");
  EXPECT_EQ(folder.Path(), base + u"\\Made\\Deep\\");
  WriteAll(folder.Path() + u"read-only.txt", Bytes("r"));
  ::SetFileAttributesW(W(folder.Path() + u"read-only.txt"), FILE_ATTRIBUTE_READONLY);
  WriteAll(folder.Path() + u"held.txt", Bytes("h"));
  Folder(folder.Path() + u"Full");
  WriteAll(folder.Path() + u"Full\\x.txt", Bytes("x"));

  EXPECT_EQ(folder.DeleteEntry(u"read-only.txt"), zel::TDeleteResult::Deleted);
  EXPECT_EQ(folder.DeleteEntry(u"read-only.txt"), zel::TDeleteResult::Missing);
  EXPECT_EQ(folder.DeleteEntry(u"Full"), zel::TDeleteResult::Refused);  // not empty
  {
    const HANDLE held = ::CreateFileW(W(folder.Path() + u"held.txt"), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(folder.DeleteEntry(u"held.txt"), zel::TDeleteResult::InUse);
    EXPECT_FALSE(zel::MoveAsideUntilRestart(folder, u"held.txt"));  // held without leave to rename
    ::CloseHandle(held);
  }
  EXPECT_EQ(Text(folder.Path() + u"held.txt"), "h");

  // Renames within the held folder; an existing target only when asked.
  WriteAll(folder.Path() + u"other.txt", Bytes("o"));
  EXPECT_THROW(folder.Rename(u"held.txt", u"other.txt", false), zel::EOSError);
  folder.Rename(u"held.txt", u"renamed.txt", false);
  EXPECT_EQ(Text(folder.Path() + u"renamed.txt"), "h");
  folder.Rename(u"renamed.txt", u"other.txt", true);
  EXPECT_EQ(Text(folder.Path() + u"other.txt"), "h");

  // Moved aside: out of its folder at once, into a private one.
  String moved;
  ASSERT_TRUE(zel::MoveAsideUntilRestart(folder, u"other.txt", &moved));
  EXPECT_FALSE(zel::FileExists(folder.Path() + u"other.txt"));
  EXPECT_EQ(Text(moved), "h");

  // A copy replaces read-only targets and copies the subfolders.
  {
    const TSafeFolder target = TSafeFolder::Create(base + u"\\Copy");
    WriteAll(target.Path() + u"x.txt", Bytes("old"));
    ::SetFileAttributesW(W(target.Path() + u"x.txt"), FILE_ATTRIBUTE_READONLY);
    zel::CopyTree(folder, target);
    EXPECT_EQ(Text(target.Path() + u"Full\\x.txt"), "x");
    EXPECT_EQ(Text(target.Path() + u"x.txt"), "old");
    WriteAll(folder.Path() + u"x.txt", Bytes("new"));
    zel::CopyTree(folder, target);
    EXPECT_EQ(Text(target.Path() + u"x.txt"), "new");
  }
  EXPECT_TRUE(zel::DeleteTree(TSafeFolder::Open(base), u"Copy"));
  EXPECT_FALSE(zel::DirectoryExists(base + u"\\Copy"));

  // Paths of any length.
  String deep = base + u"\\Long";
  while (deep.size() < 300) deep += u"\\a rather long folder name";
  {
    const TSafeFolder made = TSafeFolder::Create(deep);
    WriteAll(zel::platform::ExtendedLengthPath(deep + u"\\f.txt"), Bytes("l"));
    EXPECT_EQ(made.List().size(), 1u);
  }
  EXPECT_TRUE(zel::DeleteTree(TSafeFolder::Open(base), u"Long"));
  EXPECT_FALSE(zel::DirectoryExists(base + u"\\Long"));

  // Names that are no single entry are refused before anything is opened.
  for (const char16_t* name : {u"", u".", u"..", u"a\\b", u"C:x", u"a/b"})
    EXPECT_THROW(folder.OpenFile(name, GENERIC_READ, 0), zel::ELinkedPathError) << zel::ToUtf8(name);
}
