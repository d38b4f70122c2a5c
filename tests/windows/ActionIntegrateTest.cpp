// The integration step: which switches the registration program gets, and that it is
// started by its own path even when that path holds blanks.
#include <gtest/gtest.h>

#include "HelperProcess.h"
#include "TestInstaller.h"
#include "TestSupport.h"
#include "core/InstallerThread.h"
#include "core/ProgramRun.h"
#include "product/ActionIntegrate.h"
#include "library/win/WindowsVersion.h"
#include "ui/LanguageDialog.h"

using namespace kivo;
using namespace kivo::test;
using zel::String;

namespace {

// The sample's Elevator.exe, which logs its raw command line beside itself.
String SampleElevator() { return HelperPath(u"..\\sample\\Elevator.exe"); }

String ReadText(const String& path) {
  const std::vector<uint8_t> bytes = ReadAll(path);
  return zel::FromUtf8(std::string(bytes.begin(), bytes.end()));
}

void RunIntegrate(const String& dest, const std::vector<std::pair<String, String>>& integration) {
  TTestInstallerEnvironment environment;
  TestProduct.Actions = {ActionClassOf<TInstallerActionIntegrate>()};
  TInstaller installer(u"/AUTO=\"" + dest + u"\" /SILENT");
  ChooseLanguage(installer.Resources(), false);
  for (const auto& [key, value] : integration) installer.Options().WriteString(u"Integration", key, value);
  installer.Start(false);
  ASSERT_TRUE(installer.Thread()->WaitFor(60000));
  EXPECT_FALSE(installer.HasErrors());
}

}  // namespace

TEST(ActionIntegrate, SwitchTextFollowsTheOptionsInOrder) {
  struct Case {
    const char16_t *integrate, *menu, *associate;  // null: key absent (on by default)
    bool autoMode, windows8;
    const char16_t* expected;
  };
  const Case cases[] = {
      {nullptr, nullptr, nullptr, false, true, u" /REG=L1 /REG=D1 /REG=R1 /REG=M1 /REG=R2 /REG_UI"},
      {nullptr, nullptr, nullptr, true, true, u" /REG=L1 /REG=D1 /REG=R1 /REG=M1 /REG=R2"},
      {nullptr, nullptr, nullptr, false, false, u" /REG=L1 /REG=D1 /REG=R1 /REG=M1 /REG=R2"},
      {u"0", u"0", u"0", false, true, u""},
      {u"0", u"0", u"1", true, true, u" /REG=R2"},
      {u"0", u"0", u"1", false, true, u" /REG=R2 /REG_UI"},
      {u"1", u"0", u"0", false, true, u" /REG=L1 /REG=D1 /REG=R1"},
      {u"0", u"1", u"0", false, true, u" /REG=M1"},
  };
  for (const Case& c : cases) {
    zel::TZELIniFile options;
    if (c.integrate) options.WriteString(u"Integration", u"IntegrateToWindows", c.integrate);
    if (c.menu) options.WriteString(u"Integration", u"RegisterContextMenu", c.menu);
    if (c.associate) options.WriteString(u"Integration", u"AssociateWithFiles", c.associate);
    EXPECT_EQ(TInstallerActionIntegrate::SwitchText(options, c.autoMode, c.windows8), c.expected)
        << zel::ToUtf8(c.expected);
  }
}

TEST(ActionIntegrate, StartsTheProgramByItsQuotedPathAndNoDecoy) {
  ASSERT_TRUE(FileExists(SampleElevator())) << zel::ToUtf8(SampleElevator());
  const String scratch = ScratchDir(u"ActionIntegrate-blanks");
  const String dest = scratch + u"\\KIVO Player\\";
  ASSERT_TRUE(::CreateDirectoryW(zel::as_wcstr(zel::ExcludeTrailingBackslash(dest)), nullptr));
  ASSERT_TRUE(::CopyFileW(zel::as_wcstr(SampleElevator()), zel::as_wcstr(dest + u"Elevator.exe"), FALSE));
  // What an unquoted command line would start first: "<scratch>\KIVO.exe".
  ASSERT_TRUE(::CopyFileW(zel::as_wcstr(SampleElevator()), zel::as_wcstr(scratch + u"\\KIVO.exe"), FALSE));

  RunIntegrate(dest, {});
  EXPECT_EQ(ReadText(dest + u"Elevator.log"),
            u"\"" + dest + u"Elevator.exe\" /REG=L1 /REG=D1 /REG=R1 /REG=M1 /REG=R2\r\n");
  EXPECT_FALSE(FileExists(scratch + u"\\Elevator.log")) << "the decoy ran";

  // With every option off the program is not started at all.
  ::DeleteFileW(zel::as_wcstr(dest + u"Elevator.log"));
  RunIntegrate(dest, {{u"IntegrateToWindows", u"0"}, {u"RegisterContextMenu", u"0"}, {u"AssociateWithFiles", u"0"}});
  EXPECT_FALSE(FileExists(dest + u"Elevator.log"));
}

TEST(ActionIntegrate, RunProgramAndWaitPassesTheQuotedPathAsFirstWord) {
  const String scratch = ScratchDir(u"RunProgramAndWait-blanks");
  const String folder = scratch + u"\\tool dir";
  ASSERT_TRUE(::CreateDirectoryW(zel::as_wcstr(folder), nullptr));
  const String program = folder + u"\\probe.exe";
  ASSERT_TRUE(::CopyFileW(zel::as_wcstr(HelperPath(u"probe_child.exe")), zel::as_wcstr(program), FALSE));
  // A decoy where an unquoted line would find "<scratch>\tool" + ".exe". Each copy adds
  // the .dat file beside it to its marker, so the marker tells which one ran.
  ASSERT_TRUE(
      ::CopyFileW(zel::as_wcstr(HelperPath(u"probe_child.exe")), zel::as_wcstr(scratch + u"\\tool.exe"), FALSE));
  WriteAll(folder + u"\\probe.dat", Bytes("real"));
  WriteAll(scratch + u"\\tool.dat", Bytes("decoy"));
  const String marker = scratch + u"\\marker.txt";
  ASSERT_TRUE(RunProgramAndWait(program, u" --marker=" + marker + u" --dat --exit=3"));
  // It waited: the marker is there at once.
  EXPECT_EQ(ReadText(marker), u"\"" + program + u"\" --marker=" + marker + u" --dat --exit=3\nreal");
  EXPECT_FALSE(RunProgramAndWait(folder + u"\\missing.exe", u""));
}
