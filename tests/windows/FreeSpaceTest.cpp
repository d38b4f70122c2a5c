// Room on disk: adding up what a run writes per volume against the room there, and what an
// install run counts (the product's files of its language, the backup of what is in the
// destination, the uninstaller).
#include <windows.h>

#include <gtest/gtest.h>

#include "TestInstaller.h"
#include "TestSupport.h"
#include "core/FreeSpace.h"
#include "library/win/FileSystem.h"
#include "product/RoomCheck.h"
#include "ui/LanguageDialog.h"

using namespace kivo;
using namespace kivo::test;
using zel::String;

TEST(FreeSpace, NeedsAreAddedUpPerVolumeAgainstItsRoom) {
  const String scratch = ScratchDir(u"FreeSpace-needs");
  // A folder that does not exist yet is measured on the volume of its nearest parent.
  const TVolumeRoom room = RoomOn(scratch + u"\\not\\made\\yet\\");
  ASSERT_GT(room.Free, 0u);
  EXPECT_EQ(room.Volume, zel::ExcludeTrailingBackslash(room.Root)) << zel::ToUtf8(room.Root);
  struct Case {
    const char* what;
    std::vector<TRoomNeed> needs;
    bool fits;
  };
  // Halves and doubles of the room: other programs writing meanwhile cannot tip a case.
  const uint64_t free = room.Free;
  const Case cases[] = {
      {"nothing", {}, true},
      {"one kilobyte", {{scratch, 1024, 0}}, true},
      {"twice the room", {{scratch, free * 2, 0}}, false},
      {"two needs that fit alone but not together",
       {{scratch, free / 10 * 6, 0}, {scratch + u"\\a\\", free / 10 * 6, 0}},
       false},
      {"the same, with room the run frees first",
       {{scratch, free / 10 * 6, free}, {scratch + u"\\a\\", free / 10 * 6, 0}},
       true},
  };
  for (const Case& c : cases) {
    if (c.fits) {
      EXPECT_NO_THROW(CheckRoom(c.needs)) << c.what;
      continue;
    }
    try {
      CheckRoom(c.needs);
      ADD_FAILURE() << c.what << ": not refused";
    } catch (const EInstallerNotEnoughRoomError& e) {
      // The drive, the room needed and the room free, in words.
      const std::string text = zel::ToUtf8(e.Message());
      EXPECT_NE(text.find("There is not enough room on the disk " + zel::ToUtf8(room.Volume) + ". The setup needs "),
                std::string::npos)
          << text;
      EXPECT_NE(text.find(zel::ToUtf8(FormatBytes(c.needs.size() == 1 ? c.needs[0].Bytes : c.needs[0].Bytes * 2))),
                std::string::npos)
          << text;
    }
  }
  EXPECT_EQ(FormatBytes(0).empty(), false);
  EXPECT_NE(FormatBytes(3 * 1024 * 1024), FormatBytes(3 * 1024));
}

TEST(FreeSpace, AnInstallCountsItsFilesTheBackupAndTheUninstaller) {
  TMembers setup = DefaultSetupMembers();
  for (auto& [name, data] : setup)
    if (name == u"Install.xml")
      data.replace(data.find("<product>"), 9,
                   "<product><Components><File name=\"$DEST\\KIVO.exe\"/><File name=\"$DEST\\Plugins\\a.dll\"/>"
                   "<File name=\"$DEST\\Readme_DE.txt\" lang-family=\"DE\"/></Components>");
  TTestInstallerEnvironment environment(setup, {{u"KIVO.exe", std::string(10000, 'x')},
                                                {u"a.dll", std::string(3000, 'y')},
                                                {u"Readme_DE.txt", std::string(50000, 'z')}});
  const String dest = ScratchDir(u"FreeSpace-install") + u"\\KIVO\\";
  for (const auto& [name, size] :
       std::vector<std::pair<String, size_t>>{{u"Old.bin", 5000}, {u"Sub\\x.txt", 100}, {u"!Backup\\old.zip", 70000}}) {
    ::CreateDirectoryW(zel::as_wcstr(dest), nullptr);
    ::CreateDirectoryW(zel::as_wcstr(zel::ExtractFilePath(dest + name)), nullptr);
    WriteAll(dest + name, std::vector<uint8_t>(size, 'o'));
  }
  const uint64_t perFile = 4096;
  const uint64_t product = 10000 + perFile + 3000 + perFile;  // not the German readme
  const uint64_t backup = 5000 + perFile + 100 + perFile;     // not the old backups
  WIN32_FILE_ATTRIBUTE_DATA own;
  ASSERT_TRUE(::GetFileAttributesExW(zel::as_wcstr(zel::ModuleFileName()), GetFileExInfoStandard, &own));
  const uint64_t uninstaller = own.nFileSizeLow + (uint64_t(own.nFileSizeHigh) << 32) + (1 << 20);
  struct Case {
    const char16_t* flags;
    uint64_t expected;
  };
  for (const Case& c :
       {Case{u" /PORTABLE", product + backup + uninstaller}, Case{u" /PORTABLE /NOBACKUP", product + uninstaller}}) {
    TInstaller installer(u"/AUTO=\"" + dest + u"\" /SILENT" + c.flags);
    ChooseLanguage(installer.Resources(), false);
    const std::vector<TRoomNeed> needs = RoomNeededForInstall();
    ASSERT_EQ(needs.size(), 1u);
    EXPECT_EQ(needs[0].Path, dest);
    EXPECT_EQ(needs[0].Bytes, c.expected) << zel::ToUtf8(c.flags);
  }
}
