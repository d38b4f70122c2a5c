// Whole runs of SetupInfo.exe (tools/), which opens its packages exactly as the setup
// does: copied as Uninstall.exe in any letter case, it must read the product package
// from the .dat file beside it instead of its own "PRODUCT" resource.
#include <gtest/gtest.h>
#include <windows.h>

#include "ResourcesFixture.h"
#include "TestSupport.h"
#include "library/win/FileSystem.h"
#include "library/win/Handles.h"

using namespace zel;
using namespace kivo;
using namespace kivo::test;

namespace {

String SetupInfoPath() { return ExtractFilePath(ModuleFileName()) + u"..\\tools\\SetupInfo.exe"; }

struct TRun {
  DWORD ExitCode = 0xFFFFFFFF;
  std::string Output;  // stdout and stderr together
};

TRun RunProgram(const String& exe) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE readRaw = nullptr, writeRaw = nullptr;
  EXPECT_TRUE(::CreatePipe(&readRaw, &writeRaw, &inherit, 0));
  THandle readEnd(readRaw), writeEnd(writeRaw);
  ::SetHandleInformation(readRaw, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeRaw;
  startup.hStdError = writeRaw;
  startup.hStdInput = nullptr;
  String command = u"\"" + exe + u"\"";
  PROCESS_INFORMATION info{};
  TRun run;
  if (!::CreateProcessW(nullptr, as_wcstr(command), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
    ADD_FAILURE() << "cannot start " << ToUtf8(exe);
    return run;
  }
  THandle process(info.hProcess), thread(info.hThread);
  writeEnd.Reset();  // the child holds the only write end now, so reading ends with it
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(readRaw, buffer, sizeof(buffer), &got, nullptr) && got > 0) run.Output.append(buffer, got);
  ::WaitForSingleObject(process.Get(), 60000);
  ::GetExitCodeProcess(process.Get(), &run.ExitCode);
  return run;
}

void Copy(const String& from, const String& to) { ASSERT_TRUE(::CopyFileW(as_wcstr(from), as_wcstr(to), FALSE)); }

}  // namespace

TEST(UninstallerPackage, AnExecutableNamedUninstallReadsTheDataFileBesideIt) {
  const String tool = SetupInfoPath();
  if (::GetFileAttributesW(as_wcstr(tool)) == INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "SetupInfo.exe is not built";
  const String dir = ScratchDir(u"uninstaller-package") + u"\\";
  const std::vector<uint8_t> dat =
      PackageBytes({{u"Install.xml",
                     "<i><product><Settings><S name=\"ProductName\" value=\"FromDat\"/>"
                     "<S name=\"ProductVersion\" value=\"9.99\"/></Settings></product></i>"}});

  struct Case {
    const char16_t* exe;
    const char16_t* dat;
    const char* name;
    const char* package;
  };
  const Case cases[] = {
      {u"UnInstall.EXE", u"UnInstall.dat", "Name: FromDat", "UnInstall.dat"},
      {u"uninstall.exe", u"uninstall.DAT", "Name: FromDat", "uninstall.dat"},
      {u"Setup.exe", u"Setup.dat", "Name: KIVO", "resource PRODUCT"},  // any other name: its own resource
      {u"Uninstall2.exe", u"Uninstall2.dat", "Name: KIVO", "resource PRODUCT"},
  };
  int folder = 0;
  for (const Case& c : cases) {
    // One folder each: the file system does not tell the first two names apart.
    const String sub = dir + IntToStr(++folder) + u"\\";
    ASSERT_TRUE(::CreateDirectoryW(as_wcstr(sub), nullptr));
    Copy(tool, sub + c.exe);
    WriteAll(sub + c.dat, dat);
    const TRun run = RunProgram(sub + c.exe);
    EXPECT_EQ(run.ExitCode, 0u) << run.Output;
    EXPECT_NE(run.Output.find(c.name), std::string::npos) << ToUtf8(c.exe) << ":\n" << run.Output;
    EXPECT_NE(run.Output.find(c.package), std::string::npos) << ToUtf8(c.exe) << ":\n" << run.Output;
  }

  // An uninstaller without its data file cannot start.
  const String lonely = dir + u"lonely\\";
  ASSERT_TRUE(::CreateDirectoryW(as_wcstr(lonely), nullptr));
  Copy(tool, lonely + u"Uninstall.exe");
  const TRun run = RunProgram(lonely + u"Uninstall.exe");
  EXPECT_EQ(run.ExitCode, 1u) << run.Output;
  EXPECT_NE(run.Output.find("SetupInfo: "), std::string::npos) << run.Output;
}
