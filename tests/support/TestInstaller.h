#pragma once
// A test product and test packages for running the real installer object in tests.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "core/Installer.h"
#include "core/InstallerAction.h"
#include "package/InstallerErrors.h"
#include "core/InstallerThread.h"
#include "ResourcesFixture.h"

namespace kivo::test {

// What the test product answers; reset by TTestInstallerEnvironment.
struct TTestProductState {
  bool CanUpdate = false;
  bool Portable = false;
  int32_t InstalledVersion = 0;
  int LoadInstalledConfigCalls = 0;
  bool ThrowInPopulate = false;
  zel::String DefaultPath = u"C:\\KIVO-Test\\";
  std::vector<TInstallerActionClass> Actions;
};
extern TTestProductState TestProduct;

class TInstallerTestProduct : public TInstallerProductInfo {
public:
  zel::String GetDefaultPath() override { return TestProduct.DefaultPath; }
  bool CanUpdate() override { return TestProduct.CanUpdate; }
  bool IsPortable() override { return TestProduct.Portable; }
  int32_t GetInstalledVersion() override { return TestProduct.InstalledVersion; }
  void LoadInstalledConfig() override { ++TestProduct.LoadInstalledConfigCalls; }
  void PopulateActions(const TActionReceiver& receiver) override;
  void PopulatePages(const TPageReceiver&) override {}
};

// A step that fails, placed after the steps whose undo a test checks.
class TFailingStep : public TInstallerAction {
  KIVO_ACTION_CLASS(TFailingStep)
public:
  void Execute() override { throw EInstallerInstallError(u"failed on purpose"); }
};

// A step that lets the steps after it begin their work ahead, as the close pass does.
class TAheadStep : public TInstallerAction {
  KIVO_ACTION_CLASS(TAheadStep)
public:
  void Execute() override { Installer->Thread()->BeginAhead(); }
};

// A minimal "SETUP" package: Install.xml and English.lng with the common texts; with a
// product name, the script names that product instead of KIVO (a vendor's product).
TMembers DefaultSetupMembers(const std::string& productName = "KIVO");
std::string DefaultInstallXml();
std::string DefaultEnglishLng();

// Installs the test product and the test packages for the installer object, and puts
// everything back afterwards.
class TTestInstallerEnvironment {
public:
  explicit TTestInstallerEnvironment(TMembers setup = DefaultSetupMembers(), TMembers product = {});
  ~TTestInstallerEnvironment();

private:
  TProductInfoClass FSavedClass;
  TResourcesFactory FSavedFactory;
};

// Records every notification with the thread that received it.
class TRecordingListener : public IInstallerNotify {
public:
  struct TEvent {
    int Code;
    intptr_t Data;
    DWORD Thread;
    zel::String Text;
  };
  void Notify(int code, intptr_t data) override;
  std::vector<TEvent> Events;
  std::vector<TEvent> EventsWithCode(int code) const;
};

}  // namespace kivo::test
