#include "product/ActionConfig.h"

#include "core/Installer.h"
#include "core/RunLog.h"

namespace kivo {

void TInstallerActionConfig::Execute() {
  SetStatus(GetCommonText(u"A6"));
  const zel::String path = Installer->DestPath() + u"KIVO.ini";
  {
    // Saved when it goes; other sections of an existing file survive.
    zel::TZELIniFile config(path, true);
    config.WriteSectionText(u"Integration", Options().ReadSectionText(u"Integration"));
    config.EraseSection(u"System");
    config.WriteBool(u"System", u"UserMode", !Installer->HasFlag(TInstallerFlag::Portable));
    config.WriteString(u"System", u"DefaultLang", Resources().Language() + u".lng");
    config.WriteInteger(u"System", u"Version", ProductInfo().ProductVersionId());
  }
  RunLog().Log(u"Written: " + path);
}

}  // namespace kivo
