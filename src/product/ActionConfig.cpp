#include "product/ActionConfig.h"

#include "core/Installer.h"
#include "core/FileOperations.h"
#include "core/RunLog.h"
#include "library/Streams.h"
#include "library/win/FileSystem.h"
#include "platform/Platform.h"

namespace kivo {

void TInstallerActionConfig::Execute() {
  SetStatus(GetCommonText(u"A6"));
  const zel::String path = Installer->DestPath() + u"KIVO.ini";
  // Other sections of an existing file survive. Saved explicitly, not when it goes, so
  // the log can say whether the file was written (a locked one is not).
  zel::TZELIniFile config(path);
  FWritten = false;
  FUnreadable = false;
  FExisted = zel::FileExists(path);
  FPrevious.clear();
  if (FExisted) {
    // One that cannot be read (held by another program) cannot be written either: the
    // write below says so, and a roll-back leaves it alone.
    try {
      zel::TFileStream previous(path, zel::FileMode::OpenRead, zel::platform::ShareRead | zel::platform::ShareWrite);
      FPrevious.resize(static_cast<size_t>(previous.Size()));
      previous.ReadBuffer(FPrevious.data(), FPrevious.size());
    } catch (const zel::Exception&) {
      FExisted = false;
      FUnreadable = true;
    }
  }
  config.WriteSectionText(u"Integration", Options().ReadSectionText(u"Integration"));
  config.EraseSection(u"System");
  config.WriteBool(u"System", u"UserMode", !Installer->HasFlag(TInstallerFlag::Portable));
  config.WriteString(u"System", u"DefaultLang", Resources().Language() + u".lng");
  config.WriteInteger(u"System", u"Version", ProductInfo().ProductVersionId());
  if (config.UpdateFile()) {
    FWritten = true;
    RunLog().Log(u"Written: " + path);
  } else RunLog().Log(u"Not written (the file cannot be created or replaced): " + path);
}

void TInstallerActionConfig::Rollback() noexcept {
  if (!FWritten || FUnreadable) return;
  const zel::String path = Installer->DestPath() + u"KIVO.ini";
  try {
    if (FExisted) {
      zel::TFileStream restored(path, zel::FileMode::Create);
      restored.WriteBuffer(FPrevious.data(), FPrevious.size());
      RunLog().Log(u"Restored (the run is undone): " + path);
    } else if (SafeDeleteFile(path)) {
      RunLog().Log(u"Removed (the run is undone): " + path);
    }
  } catch (const zel::Exception& e) {
    RunLog().Log(u"Not restored (" + e.Message() + u"): " + path);
    Installer->NoteUndoFailure();
  }
}

}  // namespace kivo
