#pragma once
// The one object through which the setup reaches its carried data: the two packages,
// the installation script, language texts, pictures, and the "$" path variables.
#include <memory>
#include <mutex>

#include "core/InstallerScript.h"
#include "library/IniFile.h"
#include "library/StringList.h"
#include "package/SetupPackage.h"

namespace Gdiplus {
class Image;
}

namespace kivo {

class TInstallerProductInfo;

class TInstallerResources {
public:
  // Opens "SETUP" from the executable's resources and the product package from the
  // "PRODUCT" resource, or, for an executable named Uninstall.exe, from the .dat
  // file beside it; reads "Install.xml".
  explicit TInstallerResources(TInstallerProductInfo* productInfo);
  // For tests and tools: packages given directly.
  TInstallerResources(TInstallerProductInfo* productInfo, std::unique_ptr<TSetupPackageReader> setupPackage,
                      std::unique_ptr<TSetupPackageReader> productPackage);
  ~TInstallerResources();

  // Where $DEST points; the installer keeps it current.
  void SetDestPath(zel::StringView destPath) { FDestPath = destPath; }

  // A copy of the member, positioned at 0: the product package first, then the setup
  // package; EInstallerInstallError "Cannot locate ..." when neither holds it.
  std::unique_ptr<zel::TMemoryStream> GetFile(zel::StringView name);
  // The same member without a copy: its bytes inside the package, which lives as long as
  // this object. Same search order and error as GetFile.
  TSetupPackageMemberView GetFileView(zel::StringView name);
  // A TInstallerImage (package/win/InstallerImage.h): draw it after its ApplyTo(graphics).
  std::unique_ptr<Gdiplus::Image> GetImage(zel::StringView name);
  std::unique_ptr<zel::TZELStringList> GetStringList(zel::StringView name);
  std::unique_ptr<zel::TMemoryStream> GetLicense();  // null when the script lists none
  zel::String GetLanguageFamily();
  zel::String GetText(zel::StringView section, zel::StringView key);
  // "\n" and the $ variables, in a fixed order, case-sensitively (ExpandPathVariables in
  // package/PathVariables.h, with this object's folders and product texts).
  zel::String ExpandVariables(zel::StringView text);
  // The $ variables without the "\n" step (a path keeps "\notes"), then the result
  // cleaned element by element as a file path.
  zel::String ExpandPath(zel::StringView text);
  // Loads English, lets the user choose (no dialog when showDialog is false), merges.
  // preferredFile ("German.lng"), when the package has it, is preselected.
  void InitializeLanguages(bool showDialog, zel::StringView preferredFile = {});

  zel::TZELIniFile& LanguageTexts() { return *FLanguageTexts; }
  const zel::String& Language() const { return FLanguage; }
  const zel::TZELStringList& Languages() const { return *FLanguages; }
  TSetupPackageReader& ProductPackage() { return *FProductPackage; }
  TSetupPackageReader& SetupPackage() { return *FSetupPackage; }
  const zel::String& DesktopFolder() const { return FDesktopFolder; }
  const zel::String& ProgramFilesFolder() const { return FProgramFilesFolder; }
  const zel::String& NativeProgramFilesFolder() const { return FNativeProgramFilesFolder; }
  const zel::String& StartMenuFolder() const { return FStartMenuFolder; }
  TInstallerScript& Script() { return *FScript; }

private:
  zel::String Expand(zel::StringView text, bool lineBreaks);
  void Initialize();

  TInstallerProductInfo* FProductInfo;
  std::unique_ptr<zel::TZELIniFile> FLanguageTexts;
  zel::String FLanguage;
  std::unique_ptr<zel::TZELStringList> FLanguages;
  std::unique_ptr<TSetupPackageReader> FProductPackage;
  std::unique_ptr<TSetupPackageReader> FSetupPackage;
  zel::String FDesktopFolder;
  zel::String FProgramFilesFolder;
  zel::String FNativeProgramFilesFolder;
  zel::String FStartMenuFolder;
  std::unique_ptr<TInstallerScript> FScript;
  zel::String FDestPath;
  // The worker extracts while the window thread loads pictures and texts.
  std::recursive_mutex FPackageLock;
  // Lookups in LanguageTexts move its find cache, so readers on two threads take turns.
  std::mutex FTextLock;
};

// The user's temporary folder with a trailing backslash (raises the OS error on failure).
zel::String GetTempFolder();
// A shell folder by CSIDL number, not created when missing, with a trailing backslash;
// the temporary folder when the query fails.
zel::String GetSpecialFolder(int csidl);
// The running executable's full path.
zel::String GetModuleFilePath(void* module = nullptr);
// An executable named Uninstall.exe (any case) is the uninstaller copy that reads its
// product package from the .dat file beside it.
bool IsUninstallerFileName(zel::StringView exePath);
// Natural order: runs of ASCII digits compare as numbers, other characters
// case-insensitively. <0, 0 or >0.
int CompareNatural(zel::StringView a, zel::StringView b);

}  // namespace kivo
