#pragma once
// The main wizard window: header with the page's title, description and picture, the
// step strip, the page area and the footer with the version and the Back and Next
// buttons. It builds the run's pages, drives navigation, listens to the installer and
// decides whether it may close.
#include <memory>

#include "core/Installer.h"
#include "ui/InstallerPages.h"
#include "ui/ScaledPicture.h"
#include "ui/WizardLayout.h"
#include "ui/toolkit/Button.h"
#include "ui/toolkit/Form.h"
#include "ui/toolkit/Label.h"

namespace kivo {

class TInstallerForm;

// The header and footer: their regions and drawing; holds the two header pictures.
class TInstallerFormViewInfo {
public:
  explicit TInstallerFormViewInfo(TInstallerForm& form);
  ~TInstallerFormViewInfo();
  void Draw(zel::TZELCanvas& canvas);
  TRect GetPageBounds(bool fullScreen) const;
  TRect GetHeaderBounds() const;
  TRect GetProgressBounds() const;
  TRect GetFooterBounds() const;
  TRect GetHeaderTextBounds() const;
  Gdiplus::Image* HeaderImage() const;

private:
  TRect Client() const;
  TInstallerForm& FForm;
  TScaledPicture FHeader;
  TScaledPicture FHeaderDark;
};

// The step strip's drawing over its layout.
class TInstallerProgressViewInfo {
public:
  explicit TInstallerProgressViewInfo(TInstallerForm& form) : FForm(form) {}
  void Calculate(const TRect& bounds);
  void Draw(zel::TZELCanvas& canvas, TInstallerCustomPage* activePage);
  TRect GetCellBounds(int index) const { return FLayout.GetCellBounds(index); }
  const TInstallerProgressLayout& Layout() const { return FLayout; }

private:
  TInstallerForm& FForm;
  TInstallerProgressLayout FLayout;
};

class TInstallerForm : public zel::TZELForm, public IInstallerNotify {
public:
  TInstallerForm();
  ~TInstallerForm() override;

  void bBackClick();
  void bNextClick();
  void Notify(int code, intptr_t data) override;

  TInstallerCustomPage* ActivePage() const { return FActivePage; }
  TInstallerPageList& Pages() { return *FPages; }
  TInstallerPage* ActiveInstallerPage() const { return dynamic_cast<TInstallerPage*>(FActivePage); }

protected:
  bool CloseQuery() override;
  void ThemeChangedFlags(int flags) override;
  void ScaleChanged(const TScale& scale) override;
  void Paint(zel::TZELCanvas& canvas, const TRect& client) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
  void CreatePages(TInstallerPageList& pages);
  void Localize();
  void UpdateButtons();
  void SetActivePage(TInstallerCustomPage* page);
  void UpdateProgressBounds();

  zel::TZELLabel* lbVerInfo = nullptr;
  zel::TZELButton* bBack = nullptr;
  zel::TZELButton* bNext = nullptr;
  TInstallerCustomPage* FActivePage = nullptr;
  std::unique_ptr<TInstallerPageList> FPages;
  std::unique_ptr<TInstallerProgressViewInfo> FProgressView;
  std::unique_ptr<TInstallerFormViewInfo> FFormView;
  bool FPainted = false;
  // The user confirmed a cancel; the window waits for the worker's ended event.
  bool FStopping = false;
};

// Start-up's wizard run: initialises the toolkit, shows the window and runs the
// message loop until it has closed.
void RunInstallerWizard(TInstaller& installer);
// The toolkit and the skin; before the language dialog, so that it is skinned too.
void InitializeUserInterface();

}  // namespace kivo
