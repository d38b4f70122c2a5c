#pragma once
// The product's own pages: where and how to install (setup), the add-ons offer, the
// shortcuts and shell integration, and what the uninstaller removes besides the program.
// They do no work: they show the installer's DestPath, Flags and Options, write the
// user's choices back into them and warn about risky combinations; the actions read the
// choices later.
#include <memory>
#include <vector>

#include "library/StringList.h"
#include "ui/InstallerPages.h"
#include "ui/toolkit/Edit.h"
#include "ui/toolkit/Picture.h"

namespace kivo {

class TInstallerPageSetup : public TInstallerPage {
  KIVO_PAGE_CLASS(TInstallerPageSetup)
public:
  TInstallerPageSetup();
  bool CanGoNext() override;
  bool ConfirmNext() override;
  void Prepare() override;
  // Why the folder now in the edit cannot be installed into (typed form, drive, room),
  // in the user's language; empty when it can (for tests).
  zel::String CheckFolder();
  // The free-space line shown under the edit (for tests).
  zel::String SpaceText() const { return FSpace->Caption(); }
  // The warnings shown now, top to bottom (for tests).
  std::vector<zel::String> Warnings() const;

protected:
  void CreateControls() override;

private:
  void Refresh();
  void PathChanged();
  void ApplyPath(const zel::String& path);
  // Why the typed folder is refused, from the language texts; empty when they lack it.
  zel::String RefusalText(const zel::String& path) const;
  void BrowseClick();
  void BoxClick();
  void RadioClick(bool portable);
  void AddWarning(const zel::String& text, bool information = false);

  void UpdateSpace();
  zel::String Size(uint64_t bytes) const;

  zel::TZELButtonEdit* FPathEdit = nullptr;
  zel::TZELLabel* FSpace = nullptr;
  zel::TZELCheckBox* FUpdate = nullptr;
  zel::TZELCheckBox* FBackup = nullptr;
  zel::TZELRadioButton* FPortable = nullptr;
  zel::TZELRadioButton* FStandard = nullptr;
  std::vector<zel::TZELWarningLabel*> FWarnings;  // owned by the page as its controls
  zel::String FPathError;                         // why the typed folder cannot be used
  bool FTypedProblem = false;                     // the typed text is no usable path yet
  bool FEditing = false;
};

class TInstallerPageAddons : public TInstallerPage {
  KIVO_PAGE_CLASS(TInstallerPageAddons)
public:
  TInstallerPageAddons();
  ~TInstallerPageAddons() override;
  void Prepare() override;
  // The two formatted texts as set (for tests).
  zel::String Text1() const { return FText1->Caption(); }
  zel::String Text2() const { return FText2->Caption(); }

protected:
  void CreateControls() override;
  void Localize() override;
  void Paint(zel::TZELCanvas& canvas, const zel::TRect& client) override;

private:
  void Store();
  std::unique_ptr<zel::TZELStringList> FAddons;
  TScaledPicture FPicture;
  zel::TZELCheckBox* FViewer = nullptr;
  zel::TZELCheckBox* FExtensions = nullptr;
  zel::TZELCheckBox* FShortcuts = nullptr;
  zel::TZELFormattedLabel* FText1 = nullptr;
  zel::TZELFormattedLabel* FText2 = nullptr;
};

class TInstallerPageIntegration : public TInstallerPage {
  KIVO_PAGE_CLASS(TInstallerPageIntegration)
public:
  TInstallerPageIntegration() : TInstallerPage(ClassNameStatic()) {}
  // Skipped for portable installations and updates: nothing is integrated then.
  bool IsAvailable() override;
  void Prepare() override;

protected:
  void CreateControls() override;

private:
  void Store();
  // The boxes and the "Integration" options they stand for.
  std::vector<std::pair<zel::TZELCheckBox*, const char16_t*>> FBoxes;
};

class TInstallerPageUninstallParams : public TInstallerPage {
  KIVO_PAGE_CLASS(TInstallerPageUninstallParams)
public:
  TInstallerPageUninstallParams() : TInstallerPage(ClassNameStatic()) {}
  void Prepare() override;

protected:
  void CreateControls() override;

private:
  void Store();
  void ContentClick();
  zel::TZELLabel* FFolder = nullptr;
  zel::TZELCheckBox* FBackups = nullptr;
  zel::TZELCheckBox* FContent = nullptr;
};

}  // namespace kivo
