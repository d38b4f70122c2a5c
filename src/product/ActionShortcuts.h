#pragma once
// Creates the desktop and start-menu shortcuts that the script lists, as real shell
// links, for the locations chosen on the integration page.
#include <vector>

#include "core/InstallerAction.h"
#include "library/StringList.h"

namespace kivo {

class TInstallerScriptFile;

class TInstallerActionShortcuts : public TInstallerAction {
  KIVO_ACTION_CLASS(TInstallerActionShortcuts)
public:
  void Execute() override;
  // The links this run wrote go again, or point where they pointed before; the folders it
  // made for them go where they are empty.
  void Rollback() noexcept override;
  void BuildSummary(TInstallerSummaryBuilder& builder) override;

  // Whether an entry is created: its link path holds one of the allowed markers (any
  // letter case), and from Windows 8 on its target is a program, since the start screen
  // shows no links to documents or web pages.
  static bool TakesEntry(const TInstallerScriptFile& entry, const zel::TZELStringList& markers, bool windows8OrLater);

  // The allowed location markers of the last Execute.
  const zel::TZELStringList& Markers() const { return FMarkers; }

private:
  struct TWrittenLink {
    zel::String Path;
    bool Existed;
    zel::String Previous;  // the target it had, when it could be read
  };
  zel::TZELStringList FMarkers;
  std::vector<TWrittenLink> FWritten;
  std::vector<zel::String> FFoldersMade;
};

// Shell links through IShellLinkW and IPersistFile; the calling thread must have COM
// initialised. False when the link cannot be read or written.
bool ReadShellLinkTarget(zel::StringView linkPath, zel::String& target);
bool WriteShellLink(zel::StringView linkPath, zel::StringView target);

}  // namespace kivo
