#pragma once
// The one object through which the setup reaches its carried data: the two packages,
// the installation script, language texts, pictures, and the "$" path variables.
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "package/InstallerScript.h"
#include "library/win/Handles.h"
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
  // Opens "SETUP" from the executable's resources and reads "Install.xml". The product
  // package comes from the "PRODUCT" resource, decoded on a second thread (see
  // ProductPending), or, for an executable named Uninstall.exe, from the .dat file
  // beside it at once.
  explicit TInstallerResources(TInstallerProductInfo* productInfo);
  // For tests and tools: packages given directly.
  TInstallerResources(TInstallerProductInfo* productInfo, std::unique_ptr<TSetupPackageReader> setupPackage,
                      std::unique_ptr<TSetupPackageReader> productPackage);
  // The product package made by openProduct on a second thread (tests hold it back).
  // decoded, when given, receives (bytes written, bytes in all) as the decode goes on and
  // may raise to stop it.
  using TDecodeProgress = std::function<void(uint64_t written, uint64_t size)>;
  using TProductOpener = std::function<std::unique_ptr<TSetupPackageReader>(const TDecodeProgress& decoded)>;
  TInstallerResources(TInstallerProductInfo* productInfo, std::unique_ptr<TSetupPackageReader> setupPackage,
                      TProductOpener openProduct);
  ~TInstallerResources();

  // True while the product package has not been taken up by FinishProduct. Until then a
  // member is looked up in the setup package first (the script, the language files and
  // the dialog's pictures are there), and only a member it lacks waits for the product.
  bool ProductPending() const { return FProductPending; }
  // Signalled once the decode has ended (either way); null when no decode runs.
  HANDLE ProductDecoded() const { return FProductDecoded.Get(); }
  // How far the decode is, 0 to 100.
  int ProductProgress() const;
  // Waits for the decode and takes up its outcome: raises what it raised (a damaged
  // package, no room for it), else the product package is looked up first from now on.
  // Returns the decode's time in milliseconds (0 when there was none to wait for).
  uint32_t FinishProduct();
  // Asks the decode to stop; FinishProduct then raises EInstallerDecodeCancelled.
  void CancelProduct() { FCancelDecode = true; }
  // Lets the decode begin. It waits until the first window is on screen (or until the
  // run shows none), so that on a busy machine it does not slow that window down.
  void ReleaseProduct();

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
  // Loads English and merges the chosen language file (a member of the setup package,
  // one of Languages()) over it: a text the file lacks stays English.
  void UseLanguage(zel::StringView file);

  zel::TZELIniFile& LanguageTexts() { return *FLanguageTexts; }
  const zel::String& Language() const { return FLanguage; }
  const zel::TZELStringList& Languages() const { return *FLanguages; }
  // Waits for a pending product package (FinishProduct).
  TSetupPackageReader& ProductPackage();
  TSetupPackageReader& SetupPackage() { return *FSetupPackage; }
  const zel::String& DesktopFolder() const { return FDesktopFolder; }
  const zel::String& ProgramFilesFolder() const { return FProgramFilesFolder; }
  const zel::String& NativeProgramFilesFolder() const { return FNativeProgramFilesFolder; }
  const zel::String& StartMenuFolder() const { return FStartMenuFolder; }
  TInstallerScript& Script() { return *FScript; }

private:
  zel::String Expand(zel::StringView text, bool lineBreaks);
  void Initialize();
  void StartProduct(TProductOpener openProduct);
  // Cancels the decode and waits for its thread: before the object goes, however it goes.
  void StopProduct();
  // The packages to look in, in their order for now.
  std::pair<TSetupPackageReader*, TSetupPackageReader*> LookupOrder();

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
  // The product package's decode on its own thread: the result or the error is handed
  // over when FProductDecoded is set. Taken up on the worker in a silent install.
  std::atomic<bool> FProductPending{false};
  zel::THandle FProductReleased;
  zel::THandle FProductDecoded;
  std::unique_ptr<TSetupPackageReader> FDecodedProduct;
  std::exception_ptr FDecodeError;
  std::atomic<uint64_t> FDecodeWritten{0};
  std::atomic<uint64_t> FDecodeSize{0};
  std::atomic<bool> FCancelDecode{false};
  uint32_t FDecodeTime = 0;
  std::thread FDecodeThread;
};

// The user closed the small window that waited for the product package.
class EInstallerDecodeCancelled : public zel::Exception {
public:
  EInstallerDecodeCancelled() : Exception(u"The setup was cancelled while it prepared its files") {}
};

// An executable named Uninstall.exe (any case) is the uninstaller copy that reads its
// product package from the .dat file beside it.
bool IsUninstallerFileName(zel::StringView exePath);
// Natural order: runs of ASCII digits compare as numbers, other characters
// case-insensitively. <0, 0 or >0.
int CompareNatural(zel::StringView a, zel::StringView b);

}  // namespace kivo
