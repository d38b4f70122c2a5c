#pragma once
// Starts the optional add-on installer that the setup package carries, with parameter
// words for the add-ons chosen on the add-ons page. It is written as a new file into a
// private folder under the temporary folder, held against changes until it has started,
// and removed with its folder once it has ended (at the latest at the next restart); the
// setup does not wait for it.
#include "core/InstallerAction.h"
#include "library/StringList.h"
#include "library/win/Handles.h"

namespace kivo {

class TInstallerActionAddonsInstall : public TInstallerAction {
  KIVO_ACTION_CLASS(TInstallerActionAddonsInstall)
public:
  TInstallerActionAddonsInstall() = default;
  ~TInstallerActionAddonsInstall() override;
  void Execute() override;
  void BuildSummary(TInstallerSummaryBuilder& builder) override;

  // The add-on installer's parameters: "CL" of "addons.ini" with its "%s" replaced by
  // the words of the chosen options ("P1" when the extensions are not wanted, "P2" for
  // the viewer, "P3" for the shortcuts), each followed by one blank.
  static zel::String Parameters(const zel::TZELStringList& addons, bool viewer, bool extensions, bool shortcuts);
  // The installer's path of the last Execute (empty when nothing was started).
  const zel::String& StartedFile() const { return FStartedFile; }

private:
  // Deletes the started file and its folder when the program has ended.
  void RemoveStartedFile() noexcept;

  zel::String FStartedFile;
  zel::String FFolder;
  zel::THandle FProcess;
};

}  // namespace kivo
