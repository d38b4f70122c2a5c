// SetupInfo: shows what the setup packages embedded in this executable hold: the
// product's name, version and default folder from "Install.xml", and the language files
// with their headers. With --dialog it first lets the user choose the language in the
// setup's own language dialog; otherwise the default language is taken, as in an
// unattended run. Copied as Uninstall.exe beside an Uninstall.dat, it reads the product
// package from that file, as the uninstaller does.
//
// Exit codes: 0 success, 1 the packages cannot be read, 2 usage error.
#include <windows.h>

#include <string>

#include "library/win/FileSystem.h"
#include "library/Exceptions.h"
#include "library/IniFile.h"
#include "library/win/Handles.h"
#include "package/win/InstallerResources.h"
#include "package/win/ProductInfo.h"
#include "ui/LanguageDialog.h"

using namespace zel;
using namespace kivo;

namespace {

// Nothing is installed, so the questions about an installation have plain answers.
class TSetupInfoProduct : public TInstallerProductInfo {
public:
  bool CanUpdate() override { return false; }
  bool IsPortable() override { return false; }
  int32_t GetInstalledVersion() override { return 0; }
  void LoadInstalledConfig() override {}
  void PopulateActions(const TActionReceiver&) override {}
  void PopulatePages(const TPageReceiver&) override {}
};

// A console gets UTF-16; a pipe or file gets UTF-8, so readers see every name intact.
void Write(DWORD stdHandle, StringView text) {
  const HANDLE handle = ::GetStdHandle(stdHandle);
  if (!handle || handle == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  DWORD written = 0;
  if (::GetConsoleMode(handle, &mode)) {
    ::WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  } else {
    const std::string bytes = ToUtf8(text);
    ::WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }
}
void Out(StringView text) { Write(STD_OUTPUT_HANDLE, String(text) + u"\r\n"); }

void PrintLanguages(TInstallerResources& resources) {
  const TZELStringList& languages = resources.Languages();
  Out(Format(u"Languages: %d", static_cast<int>(languages.Count())));
  for (const String& member : languages) {
    TZELIniFile ini;
    if (auto stream = resources.SetupPackage().ExtractFile(member)) ini.LoadFromStream(*stream);
    String family = ini.ReadString(u"File", u"Family");
    if (family.empty()) family = u"EN";
    Out(Format(u"  %s: Name=%s LangId=%d Family=%s", member, ini.ReadString(u"File", u"Name"),
               ini.ReadInteger(u"File", u"LangId", 0), family));
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  bool showDialog = false;
  for (int i = 1; i < argc; ++i) {
    const String arg = from_wcstr(argv[i]);
    if (arg == u"--dialog") {
      showDialog = true;
    } else {
      Write(STD_ERROR_HANDLE, u"usage: SetupInfo [--dialog]\r\n");
      return 2;
    }
  }
  try {
    TSetupInfoProduct info;
    TInstallerResources resources(&info);
    ChooseLanguage(resources, showDialog);
    const String exe = ModuleFileName();
    Out(u"Product package: " +
        (IsUninstallerFileName(exe) ? ChangeFileExt(exe, u".dat") : String(u"resource PRODUCT")));
    Out(u"Name: " + info.GetName());
    Out(u"Version: " + info.GetFullVersion());
    Out(u"Default path: " + info.GetDefaultPath());
    Out(u"Language: " + resources.Language() + u" (family " + resources.GetLanguageFamily() + u")");
    PrintLanguages(resources);
    return 0;
  } catch (const Exception& e) {
    Write(STD_ERROR_HANDLE, u"SetupInfo: " + e.Message() + u"\r\n");
    return 1;
  }
}
