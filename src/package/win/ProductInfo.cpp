#include "package/win/ProductInfo.h"

#include <windows.h>
#include <shlobj.h>

#include "package/InstallerErrors.h"
#include "library/win/KnownFolders.h"
#include "package/win/InstallerResources.h"

namespace kivo {

using namespace zel;

String TInstallerProductInfo::Setting(StringView name) const {
  return FResources ? FResources->Script().GetValue(name) : String();
}

String TInstallerProductInfo::GetDefaultPath() {
  const String programFiles = FResources ? FResources->ProgramFilesFolder() : SpecialFolder(CSIDL_PROGRAM_FILESX86);
  return programFiles + GetName() + u"\\";
}

String TInstallerProductInfo::GetDefaultPortablePath() { return SpecialFolder(CSIDL_DESKTOP) + GetName() + u"\\"; }

String TInstallerProductInfo::GetHomePage() { return Setting(u"HomePage"); }

String TInstallerProductInfo::GetName() {
  String name = Setting(u"ProductName");
  if (name.empty()) throw EInstallerGeneralError(u"TInstallerProductInfo.GetName");
  return name;
}

String TInstallerProductInfo::GetPublisher() { return Setting(u"Publisher"); }

String TInstallerProductInfo::GetVersion() { return Setting(u"ProductVersion"); }

int32_t TInstallerProductInfo::ProductVersionId() { return StrToIntDef(Setting(u"ProductVersionId"), 0); }

String TInstallerProductInfo::GetFullVersion() { return GetVersion() + u", " + Setting(u"BuildDate"); }

String TInstallerProductInfo::GetInstalledVersionText() { return FormatVersionNumber(GetInstalledVersion()); }

String TInstallerProductInfo::GetVersionNo() { return Setting(u"ProductVersionNo"); }

}  // namespace kivo
