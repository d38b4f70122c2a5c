#pragma once
// The base through which the generic installer learns about the product it installs.
// The product names its subclass through ProductInfoClass (core/Installer.h).
#include <functional>
#include <memory>

#include "library/Strings.h"

namespace kivo {

class TInstallerAction;
class TInstallerPage;
class TInstallerResources;

// A "class reference" to an action: the worker and the ready page create actions
// through it. Pages use the same shape (TInstallerPageClass, ui/).
struct TInstallerActionClass {
  const char* Name;
  std::unique_ptr<TInstallerAction> (*Create)();
};
template <typename T>
TInstallerActionClass ActionClassOf() {
  return {T::ClassNameStatic(), []() -> std::unique_ptr<TInstallerAction> { return std::make_unique<T>(); }};
}

struct TInstallerPageClass {
  const char* Name;
  std::unique_ptr<TInstallerPage> (*Create)();
};

using TActionReceiver = std::function<void(const TInstallerActionClass&)>;
using TPageReceiver = std::function<void(const TInstallerPageClass&)>;

class TInstallerProductInfo {
public:
  virtual ~TInstallerProductInfo() = default;

  // The resources are created after the product information (the installer's order);
  // the installer attaches them before anything reads a setting.
  void AttachResources(TInstallerResources* resources) { FResources = resources; }
  TInstallerResources* Resources() const { return FResources; }

  virtual zel::String GetDefaultPath();
  virtual zel::String GetDefaultPortablePath();
  virtual zel::String GetHomePage();
  virtual bool CanUpdate() = 0;
  virtual bool IsPortable() = 0;
  virtual int32_t GetInstalledVersion() = 0;
  virtual zel::String GetName();  // raises EInstallerGeneralError when empty
  virtual zel::String GetPublisher();
  virtual zel::String GetVersion();
  virtual int32_t ProductVersionId();
  virtual zel::String GetFullVersion();
  virtual void LoadInstalledConfig() = 0;
  virtual void PopulateActions(const TActionReceiver& receiver) = 0;
  virtual void PopulatePages(const TPageReceiver& receiver) = 0;

  // "5.02" for 5020.
  zel::String GetInstalledVersionText();
  zel::String GetVersionNo();

protected:
  zel::String Setting(zel::StringView name) const;

private:
  TInstallerResources* FResources = nullptr;
};

// "N div 1000" "." "(N mod 1000) div 10" with two digits: 5020 -> "5.02".
inline zel::String FormatVersionNumber(int32_t version) {
  const int32_t minor = (version % 1000) / 10;
  return zel::IntToStr(version / 1000) + u"." + (minor < 10 && minor >= 0 ? u"0" : u"") + zel::IntToStr(minor);
}

}  // namespace kivo
