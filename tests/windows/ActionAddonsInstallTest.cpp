// The add-ons step: the parameter words for the chosen add-ons, and the add-on installer
// written into a private folder under the temporary folder and opened by its own path.
#include <gtest/gtest.h>

#include "HelperProcess.h"
#include "TestInstaller.h"
#include "TestSupport.h"
#include "core/InstallerThread.h"
#include "library/win/Handles.h"
#include "product/ActionAddonsInstall.h"
#include "ui/LanguageDialog.h"

using namespace kivo;
using namespace kivo::test;
using zel::String;

namespace {

const char kAddonsIni[] = "[Addons]\r\nP1=/noext\r\nP2=/viewer\r\nP3=/shortcuts\r\nP4=Tools\\AddonProbe.exe\r\n";

std::string FileBytes(const String& path) {
  const std::vector<uint8_t> bytes = ReadAll(path);
  return std::string(bytes.begin(), bytes.end());
}

// The temporary folder of this process for one scope.
class TTempScope {
public:
  explicit TTempScope(const String& folder) {
    wchar_t saved[MAX_PATH] = {};
    ::GetEnvironmentVariableW(L"TMP", saved, MAX_PATH);
    FSaved = zel::from_wcstr(saved);
    ::SetEnvironmentVariableW(L"TMP", zel::as_wcstr(folder));
  }
  ~TTempScope() { ::SetEnvironmentVariableW(L"TMP", FSaved.empty() ? nullptr : zel::as_wcstr(FSaved)); }

private:
  String FSaved;
};

// Runs the step; returns the error text, empty when none.
String RunAddons(const TMembers& setup, const std::vector<std::pair<String, String>>& common) {
  TTestInstallerEnvironment environment(setup);
  TestProduct.Actions = {ActionClassOf<TInstallerActionAddonsInstall>()};
  TInstaller installer(u"/AUTO=" + ScratchDir(u"ActionAddons-dest") + u" /SILENT");
  ChooseLanguage(installer.Resources(), false);
  for (const auto& [key, value] : common) installer.Options().WriteString(u"Common", key, value);
  installer.Start(false);
  EXPECT_TRUE(installer.Thread()->WaitFor(60000));
  return installer.HasErrors() ? installer.Errors()[0] : String();
}

// The probe writes its marker through a handle it shares with nobody: a marker that
// opens and is not empty has been written whole.
bool MarkerWritten(const String& path) {
  zel::TFileHandle file(
      ::CreateFileW(zel::as_wcstr(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER size{};
  return file && ::GetFileSizeEx(file.Get(), &size) && size.QuadPart > 0;
}

// What `folder` holds, for a failure message.
std::string FolderNames(const String& folder) {
  std::string names;
  WIN32_FIND_DATAW data;
  zel::TFindHandle find(::FindFirstFileW(zel::as_wcstr(folder + u"\\*"), &data));
  if (find) do
      names += zel::ToUtf8(zel::from_wcstr(data.cFileName)) + " ";
    while (::FindNextFileW(find.Get(), &data));
  return names;
}

// The private folders made for the installer in `folder`.
size_t FolderCount(const String& folder) {
  size_t count = 0;
  WIN32_FIND_DATAW data;
  zel::TFindHandle find(::FindFirstFileW(zel::as_wcstr(folder + u"\\*"), &data));
  if (!find) return 0;
  do {
    const String name = zel::from_wcstr(data.cFileName);
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && zel::StartsWith(name, u"KIVO Add-ons ")) ++count;
  } while (::FindNextFileW(find.Get(), &data));
  return count;
}

bool WaitForFile(const String& path, int ms) {
  for (int waited = 0; waited < ms; waited += 50) {
    if (MarkerWritten(path)) return true;
    ::Sleep(50);
  }
  return MarkerWritten(path);
}

}  // namespace

TEST(ActionAddonsInstall, ParameterWordsFollowTheOptions) {
  zel::TZELStringList addons;
  addons.SetText(u"[Addons]\r\nP1=/noext\r\nP2=/viewer\r\nP3=/shortcuts\r\nCL=/silent %s/end");
  struct Case {
    bool viewer, extensions, shortcuts;
    const char16_t* expected;
  };
  const Case cases[] = {
      {true, true, true, u"/silent /viewer /shortcuts /end"},  {false, true, false, u"/silent /end"},
      {false, false, true, u"/silent /noext /shortcuts /end"}, {true, false, false, u"/silent /noext /viewer /end"},
      {false, false, false, u"/silent /noext /end"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TInstallerActionAddonsInstall::Parameters(addons, c.viewer, c.extensions, c.shortcuts), c.expected);
}

TEST(ActionAddonsInstall, WritesTheInstallerIntoAPrivateFolderAndOpensItByItsPath) {
  const String scratch = ScratchDir(u"ActionAddons-temp");
  const String temp = scratch + u"\\temp dir";
  ASSERT_TRUE(::CreateDirectoryW(zel::as_wcstr(temp), nullptr));
  const String marker = scratch + u"\\marker.txt";
  // A program of the user's waits in the temporary folder under the installer's name,
  // with its data beside it: it is neither replaced nor started.
  WriteAll(temp + u"\\AddonProbe.dat", Bytes("planted"));
  WriteAll(temp + u"\\AddonProbe.exe", Bytes("planted program"));
  // Where an unquoted path would find "<scratch>\temp.exe": a decoy that says "decoy".
  ASSERT_TRUE(
      ::CopyFileW(zel::as_wcstr(HelperPath(u"probe_child.exe")), zel::as_wcstr(scratch + u"\\temp.exe"), FALSE));
  WriteAll(scratch + u"\\temp.dat", Bytes("decoy"));

  TMembers setup = DefaultSetupMembers();
  const std::string probe = FileBytes(HelperPath(u"probe_child.exe"));
  setup.push_back({u"addons.ini", std::string(kAddonsIni) + "CL=--marker=" + zel::ToUtf8(marker) + " --dat %s"});
  setup.push_back({u"Tools\\AddonProbe.exe", probe});
  TTempScope scope(temp);

  // Nothing chosen: nothing written, nothing started (the "P1" word alone is no reason).
  EXPECT_EQ(RunAddons(setup, {{u"AddonsExtensions", u"0"}}), u"");
  EXPECT_EQ(FolderCount(temp), 0u) << FolderNames(temp);

  EXPECT_EQ(RunAddons(setup, {{u"AddonsViewer", u"1"}}), u"");
  ASSERT_TRUE(WaitForFile(marker, 20000)) << "the add-on installer did not run";
  const std::string seen = FileBytes(marker);
  EXPECT_NE(seen.find(" --dat /noext /viewer "), std::string::npos) << seen;
  // Alone in a new folder of its own: no data file of anyone else's beside it.
  EXPECT_EQ(seen.substr(seen.size() - 15), "\n(no data file)") << seen;
  // The shell quotes the path it was given as one file name.
  const std::string started = seen.substr(0, seen.find(" --marker"));
  const std::string prefix = "\"" + zel::ToUtf8(temp) + "\\KIVO Add-ons ";
  EXPECT_EQ(started.substr(0, prefix.size()), prefix) << seen;
  EXPECT_EQ(started.substr(started.size() - 16), "\\AddonProbe.exe\"") << seen;
  EXPECT_EQ(started.size(), prefix.size() + 16 + 16) << seen;
  EXPECT_EQ(FileBytes(temp + u"\\AddonProbe.exe"), "planted program");
  EXPECT_EQ(FileBytes(temp + u"\\AddonProbe.dat"), "planted");
}

TEST(ActionAddonsInstall, MissingAddonDataEndsTheRun) {
  TMembers setup = DefaultSetupMembers();
  // The error entry's first line is the message.
  auto firstLine = [](const String& text) { return text.substr(0, text.find(u'\r')); };
  EXPECT_EQ(firstLine(RunAddons(setup, {{u"AddonsShortcuts", u"1"}})),
            u"Cannot locate \"addons.ini\" file in setup archive");
  setup.push_back({u"addons.ini", std::string(kAddonsIni) + "CL=%s"});
  EXPECT_EQ(firstLine(RunAddons(setup, {{u"AddonsShortcuts", u"1"}})),
            u"Cannot locate \"Tools\\AddonProbe.exe\" file in setup archive");
}
