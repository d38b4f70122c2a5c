#include "product/ActionConfig.h"

#include "core/Installer.h"
#include "core/RunLog.h"

namespace kivo {

void TInstallerActionConfig::Execute() {
  SetStatus(GetCommonText(u"A6"));
  const zel::String path = Installer->DestPath() + u"KIVO.ini";
  // Other sections of an existing file survive. Saved explicitly, not when it goes, so
  // the log can say whether the file was written (a locked one is not).
  zel::TZELIniFile config(path);
  config.WriteSectionText(u"Integration", Options().ReadSectionText(u"Integration"));
  config.EraseSection(u"System");
  config.WriteBool(u"System", u"UserMode", !Installer->HasFlag(TInstallerFlag::Portable));
  config.WriteString(u"System", u"DefaultLang", Resources().Language() + u".lng");
  config.WriteInteger(u"System", u"Version", ProductInfo().ProductVersionId());
  if (config.UpdateFile())
    RunLog().Log(u"Written: " + path);
  else
    RunLog().Log(u"Not written (the file cannot be created or replaced): " + path);
}

}  // namespace kivo
