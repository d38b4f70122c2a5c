#include "library/win/FileSystem.h"
#include "core/UninstallRegistration.h"

#include <windows.h>

#include "core/ApplicationRepository.h"
#include "core/FileOperations.h"
#include "core/Installer.h"
#include "package/InstallerErrors.h"
#include "package/InstallerScript.h"
#include "core/RunLog.h"
#include "library/win/OSError.h"
#include "package/SetupPackage.h"
#include "core/ExtractHelper.h"
#include "platform/Platform.h"

namespace kivo {

using zel::String;
using zel::StringView;

namespace {

uint64_t FileSize(const String& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(zel::as_wcstr(zel::platform::ExtendedLengthPath(path)), GetFileExInfoStandard, &data))
    return 0;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The installed size in KB, for the system's list of programs.
uint32_t EstimatedSizeKB(zel::TZELIniFile& ini, const String& destPath) {
  const int32_t count = ini.ReadInteger(u"Uninstall", u"Count", 0);
  uint64_t bytes = 0;
  for (int32_t i = 0; i < count; ++i) {
    String path = ini.ReadString(u"Uninstall", zel::IntToStr(i), u"");
    if (path.size() < 2 || (path[1] != u':' && path[0] != u'\\')) path = destPath + path;
    bytes += FileSize(path);
  }
  return static_cast<uint32_t>((bytes + 1023) / 1024);
}

}  // namespace

void AddUninstallEntry(zel::TZELIniFile& ini, StringView destPath, StringView expandedPath) {
  String path(expandedPath);
  const int32_t count = ini.ReadInteger(u"Uninstall", u"Count", 0);
  if (!destPath.empty() && zel::StartsWithText(path, destPath)) path.erase(0, destPath.size());
  ini.WriteString(u"Uninstall", zel::IntToStr(count), path);
  ini.WriteString(u"Uninstall", u"Count", zel::IntToStr(count + 1));
}

void RegisterUninstall(StringView destPath, const std::vector<const TInstallerScriptFile*>& files) {
  const String dest(destPath);
  const String uninstallerPath = dest + kUninstallerName;
  const String dataPath = zel::ChangeFileExt(uninstallerPath, u".dat");
  TInstallerResources& resources = Installer->Resources();

  // A script without components has not made the folder yet; a read-only uninstaller
  // or data file from an earlier installation would refuse to be replaced.
  Installer->ExtractHelper().ForceFolder(dest);
  zel::platform::ClearFileAttributes(uninstallerPath);
  zel::platform::ClearFileAttributes(dataPath);
  try {
    CopyFileOrRaise(zel::ModuleFileName(), uninstallerPath);
  } catch (const zel::EOSError& e) {
    if (e.ErrorCode() != ERROR_DISK_FULL && e.ErrorCode() != ERROR_HANDLE_DISK_FULL) throw;
    RunLog().Log(u"Not written (" + e.Message() + u"): " + uninstallerPath);
    // Written in part: a truncated uninstaller would only fail later, when the entry starts it.
    if (::DeleteFileW(zel::as_wcstr(zel::platform::ExtendedLengthPath(uninstallerPath))))
      RunLog().Log(u"Deleted (written only in part): " + uninstallerPath);
    throw EInstallerInstallError(WriteFailureText(uninstallerPath, e.ErrorCode()));
  }
  RunLog().Log(u"Written: " + uninstallerPath);

  zel::TZELIniFile ini;
  ini.Assign(Installer->Options());
  ini.EraseSection(u"Uninstall");
  for (const TInstallerScriptFile* file : files) AddUninstallEntry(ini, dest, resources.ExpandPath(file->Name));
  // These two are file-system paths already: expanding them again would turn a "\n" in
  // a folder name ("C:\new\") into a line break.
  AddUninstallEntry(ini, dest, dataPath);
  AddUninstallEntry(ini, dest, uninstallerPath);

  zel::TMemoryStream text;
  ini.SaveToStream(text);
  text.SetPosition(0);
  TSetupPackageBuilder builder(kSetupPackageKey);
  builder.AddFile(text, u"Uninstall.ini");
  builder.Commit(dataPath, 4);
  RunLog().Log(u"Written: " + dataPath + u" (" + zel::IntToStr(ini.ReadInteger(u"Uninstall", u"Count", 0)) +
               u" installed files listed)");

  if (Installer->HasFlag(TInstallerFlag::Portable)) return;
  TInstallerProductInfo& product = Installer->ProductInfo();
  const bool registered = TInstallerApplicationRepository::Register(product.GetName(), uninstallerPath,
                                                                    product.GetVersionNo(), product.GetPublisher(),
                                                                    product.GetHomePage(), EstimatedSizeKB(ini, dest));
  RunLog().Log(registered ? u"Registered the uninstall entry \"" + product.GetName() + u"\""
                          : u"No uninstall entry registered for \"" + product.GetName() + u"\"");
}

}  // namespace kivo
