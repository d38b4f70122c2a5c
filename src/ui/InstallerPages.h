#pragma once
// The page framework of the wizard and the standard pages every product uses: welcome,
// licence, ready to install, install and uninstall progress, and the finish pages.
//
// A page is a panel of the main window that knows its language section (its class name
// without "TInstaller"), builds its controls once (CreateControls), takes its texts
// once (Localize), refreshes itself on every activation (Prepare) and answers the
// window's navigation questions.
#include <memory>
#include <vector>

#include "core/Installer.h"
#include "ui/ScaledPicture.h"
#include "ui/WizardLayout.h"
#include "ui/toolkit/Button.h"
#include "ui/toolkit/Control.h"
#include "ui/toolkit/Label.h"
#include "ui/toolkit/Memo.h"
#include "ui/toolkit/ProgressBar.h"

namespace Gdiplus {
class Image;
}

namespace kivo {

// Declares the class name a page reports (its language section without "TInstaller").
#define KIVO_PAGE_CLASS(Name) \
public:                       \
  static constexpr const char* ClassNameStatic() { return #Name; }

class TInstallerCustomPage : public zel::TZELPanel {
public:
  ~TInstallerCustomPage() override;

  const char* ClassName() const { return FClassName; }
  virtual int GetProgress() { return 0; }
  virtual bool CanGoBack() { return true; }
  virtual bool CanGoNext() { return true; }
  virtual bool IsAvailable() { return true; }
  // Runs at every activation, before the page is shown.
  virtual void Prepare() {}
  // After the page has become visible.
  virtual void Shown() {}
  // Next was pressed and may go on: false keeps the page (it has told the user why).
  virtual bool ConfirmNext() { return true; }
  virtual bool IsFullScreen() const { return false; }
  // For the Next button's caption when this page comes next.
  virtual TNextPageKind Kind() const { return TNextPageKind::Normal; }

protected:
  // className: "TInstaller..." of the page; the page's name drops the first 10 characters.
  explicit TInstallerCustomPage(const char* className);

private:
  const char* FClassName;
};

class TInstallerPage : public TInstallerCustomPage {
public:
  // The second half of construction, once the object is complete: CreateControls, Localize.
  void Construct();

  const zel::String& Title() const { return FTitle; }
  const zel::String& Description() const { return FDescription; }

protected:
  explicit TInstallerPage(const char* className) : TInstallerCustomPage(className) {}
  virtual void CreateControls() {}
  virtual void Localize();

  zel::String GetText(zel::StringView key) const;
  zel::TZELIniFile& Options() const { return Installer->Options(); }
  TInstallerResources& Resources() const { return Installer->Resources(); }
  // Creates a control of class T on the page at the design rectangle, named key.
  template <typename T>
  T* AddControl(int left, int top, int width, int height, zel::StringView key) {
    T* control = Add<T>();
    control->SetName(key);
    control->SetBounds(left, top, width, height);
    return control;
  }
  zel::TZELLabel* AddLabel(int left, int top, int width, int height, zel::StringView key, bool wrap);
  zel::TZELLabel* AddHeaderLabel(int left, int top, int width, int height, zel::StringView key);
  zel::TZELCheckBox* AddCheckBox(int left, int top, int width, int height, zel::StringView key,
                                 std::function<void()> onClick);
  zel::TZELRadioButton* AddRadioBox(int left, int top, int width, int height, zel::StringView key,
                                    std::function<void()> onClick);
  // Tells the window that CanGoNext may have changed (event 5).
  void NotifyStateChanged();

private:
  // Widens check boxes, radio buttons and one-line labels whose translated caption does
  // not fit their design width, as far as the page's right margin.
  void FitCaptions();
  zel::String FTitle;
  zel::String FDescription;
};

// The "class reference" of a page: the window creates pages through it.
template <typename T>
TInstallerPageClass PageClassOf() {
  return {T::ClassNameStatic(), []() -> std::unique_ptr<TInstallerPage> {
            auto page = std::make_unique<T>();
            page->Construct();
            return page;
          }};
}

class TInstallerPageFullScreen : public TInstallerPage {
public:
  ~TInstallerPageFullScreen() override;
  bool IsFullScreen() const override { return true; }

protected:
  explicit TInstallerPageFullScreen(const char* className);
  void CreateControls() override;
  void Paint(zel::TZELCanvas& canvas, const zel::TRect& client) override;
  zel::TZELLabel* L1 = nullptr;
  zel::TZELLabel* L2 = nullptr;

private:
  // Both, so that the page follows a switch between light and dark as the header does.
  std::unique_ptr<TScaledPicture> FLight;
  std::unique_ptr<TScaledPicture> FDark;
};

class TInstallerPageWelcome : public TInstallerPageFullScreen {
  KIVO_PAGE_CLASS(TInstallerPageWelcome)
public:
  TInstallerPageWelcome() : TInstallerPageFullScreen(ClassNameStatic()) {}

protected:
  void CreateControls() override;
  void Localize() override;

private:
  zel::TZELLabel* FWarning = nullptr;
};

class TInstallerPageLicense : public TInstallerPage {
  KIVO_PAGE_CLASS(TInstallerPageLicense)
public:
  TInstallerPageLicense() : TInstallerPage(ClassNameStatic()) {}
  bool CanGoBack() override { return false; }
  bool CanGoNext() override;
  void Prepare() override;
  void Shown() override;

protected:
  void CreateControls() override;

private:
  void AcceptClick();
  zel::TZELRichViewer* FViewer = nullptr;
  zel::TZELCheckBox* FAccept = nullptr;
};

class TInstallerPageReadyToInstall : public TInstallerPage {
  KIVO_PAGE_CLASS(TInstallerPageReadyToInstall)
public:
  TInstallerPageReadyToInstall() : TInstallerPage(ClassNameStatic()) {}
  void Prepare() override;
  // The summary the page shows now (for tests).
  const zel::String& Summary() const { return FSummary; }

protected:
  void CreateControls() override;

private:
  zel::TZELRichViewer* FViewer = nullptr;
  zel::String FSummary;
};

class TInstallerPageInstall : public TInstallerPage, public IInstallerNotify {
  KIVO_PAGE_CLASS(TInstallerPageInstall)
public:
  TInstallerPageInstall() : TInstallerPageInstall(ClassNameStatic()) {}
  ~TInstallerPageInstall() override;
  bool CanGoBack() override { return false; }
  bool CanGoNext() override { return FEnded; }
  int GetProgress() override;
  void Prepare() override;
  void Notify(int code, intptr_t data) override;
  TNextPageKind Kind() const override { return TNextPageKind::Install; }
  // The user cancelled: the status says so and the worker's texts no longer replace it.
  void ShowStopping();

protected:
  explicit TInstallerPageInstall(const char* className);
  void CreateControls() override;

private:
  zel::TZELProgressBar* FCurrent = nullptr;
  zel::TZELProgressBar* FOverall = nullptr;
  zel::TZELLabel* FStatus = nullptr;
  bool FEnded = false;
  bool FStopping = false;
};

class TInstallerPageUninstall : public TInstallerPageInstall {
  KIVO_PAGE_CLASS(TInstallerPageUninstall)
public:
  TInstallerPageUninstall() : TInstallerPageInstall(ClassNameStatic()) {}
  TNextPageKind Kind() const override { return TNextPageKind::Uninstall; }
};

class TInstallerPageCustomFinish : public TInstallerPageFullScreen {
public:
  bool CanGoBack() override { return false; }
  void Prepare() override;

protected:
  explicit TInstallerPageCustomFinish(const char* className) : TInstallerPageFullScreen(className) {}
  void CreateControls() override;
  bool ErrorsShown() const { return FErrors && FErrors->Visible(); }

private:
  // The log that holds the failed run's details; opened now when the run had none.
  static zel::String FailureLogPath();
  zel::TZELMemo* FErrors = nullptr;
};

class TInstallerPageFinish : public TInstallerPageCustomFinish {
  KIVO_PAGE_CLASS(TInstallerPageFinish)
public:
  TInstallerPageFinish() : TInstallerPageCustomFinish(ClassNameStatic()) {}
  void Prepare() override;

protected:
  void CreateControls() override;

private:
  void StoreActions();
  std::vector<zel::TZELCheckBox*> FActions;
};

class TInstallerPageUninstallFinish : public TInstallerPageCustomFinish {
  KIVO_PAGE_CLASS(TInstallerPageUninstallFinish)
public:
  TInstallerPageUninstallFinish() : TInstallerPageCustomFinish(ClassNameStatic()) {}
};

// The ordered pages of a run; owns them.
class TInstallerPageList {
public:
  void Add(const TInstallerPageClass& pageClass);
  void Add(std::unique_ptr<TInstallerCustomPage> page);
  size_t Count() const { return FPages.size(); }
  TInstallerCustomPage* Get(size_t index) const { return FPages[index].get(); }
  TInstallerCustomPage* First() const { return FPages.empty() ? nullptr : FPages.front().get(); }
  TInstallerCustomPage* Last() const { return FPages.empty() ? nullptr : FPages.back().get(); }
  int IndexOf(const TInstallerCustomPage* page) const;
  TInstallerCustomPage* NextAvailable(const TInstallerCustomPage* page) const;
  TInstallerCustomPage* PrevAvailable(const TInstallerCustomPage* page) const;
  bool CanGoNext(TInstallerCustomPage* active) const;
  bool CanGoBack(TInstallerCustomPage* active) const;

private:
  std::vector<bool> Availability() const;
  std::vector<std::unique_ptr<TInstallerCustomPage>> FPages;
};

}  // namespace kivo
