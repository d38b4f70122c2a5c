// The backups folder: which leftovers of failed or stopped runs the next run removes.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "TestLinks.h"
#include "TestSupport.h"
#include "library/win/FileSystem.h"
#include "library/win/Handles.h"
#include "product/BackupFolder.h"

using namespace kivo;
using namespace kivo::test;
using zel::String;

TEST(BackupFolder, StalePartialArchivesGoAndNothingElse) {
  RemoveLinkedTree(ScratchDir(u"BackupFolder-parts"));
  const String scratch = ScratchDir(u"BackupFolder-parts");
  const String backups = scratch + u"\\!Backup\\";
  ::CreateDirectoryW(zel::as_wcstr(backups), nullptr);
  ::CreateDirectoryW(zel::as_wcstr(backups + u"folder.zip.part"), nullptr);
  WriteAll(scratch + u"\\outside.zip.part", Bytes("not in the backups folder"));
  struct Case {
    const char16_t* name;
    size_t size;
    bool goes;
  };
  const Case cases[] = {
      {u"z Before install 5.10 [2026.01.02 03-04-05].zip.part", 1000, true},
      {u"Z OLD.ZIP.PART", 10, true},
      {u"empty.zip.part", 0, true},
      {u"z Before install 5.00 [2025.01.02 03-04-05].zip", 100, false},  // a finished backup
      {u"notes.zip.part.txt", 5, false},
      {u"a.part", 5, false},
      {u".zip.part", 5, false},      // no archive's name
      {u"held.zip.part", 7, false},  // a setup is writing it right now
  };
  for (const Case& c : cases) WriteAll(backups + c.name, std::vector<uint8_t>(c.size, 'x'));
  const bool link = MakeLink(backups + u"link.zip.part", scratch + u"\\outside.zip.part", false);
  zel::TFileHandle held(::CreateFileW(zel::as_wcstr(backups + u"held.zip.part"), GENERIC_READ | GENERIC_WRITE, 0,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);

  const zel::TSafeFolder folder = zel::TSafeFolder::Open(backups);
  std::vector<String> listed;
  // Under Wine a Unix link lists as the file it leads to; the removal refuses it below.
  for (const TStalePart& part : ListStaleParts(folder))
    if (part.Name != u"link.zip.part") listed.push_back(part.Name);
  std::sort(listed.begin(), listed.end());
  const std::vector<String> expected = {u"Z OLD.ZIP.PART", u"empty.zip.part", u"held.zip.part",
                                        u"z Before install 5.10 [2026.01.02 03-04-05].zip.part"};
  EXPECT_EQ(listed, expected);

  EXPECT_EQ(RemoveStaleParts(folder), 1010u);
  for (const Case& c : cases) EXPECT_EQ(zel::FileExists(backups + c.name), !c.goes) << zel::ToUtf8(c.name);
  EXPECT_TRUE(zel::DirectoryExists(backups + u"folder.zip.part"));
  EXPECT_EQ(ReadAll(scratch + u"\\outside.zip.part"), Bytes("not in the backups folder"));
  if (link) EXPECT_TRUE(::GetFileAttributesW(zel::as_wcstr(backups + u"link.zip.part")) != INVALID_FILE_ATTRIBUTES);
  held.Reset();
  // Once its writer has let go, the next run takes it too.
  EXPECT_EQ(RemoveStaleParts(folder), 7u);
  EXPECT_FALSE(zel::FileExists(backups + u"held.zip.part"));
}
