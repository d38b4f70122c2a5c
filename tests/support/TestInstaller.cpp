#include "TestInstaller.h"

#include "package/InstallerErrors.h"

namespace kivo::test {

TTestProductState TestProduct;

void TInstallerTestProduct::PopulateActions(const TActionReceiver& receiver) {
  if (TestProduct.ThrowInPopulate) throw EInstallerGeneralError(u"The product could not list its actions");
  for (const TInstallerActionClass& actionClass : TestProduct.Actions) receiver(actionClass);
}

std::string DefaultInstallXml() {
  return R"(<?xml version="1.0" encoding="utf-8"?>
<installer>
  <setup><license><File name="License_EN.rtf" lang-family="EN"/></license></setup>
  <product>
    <Settings>
      <Setting name="ProductName" value="KIVO"/>
      <Setting name="Publisher" value="KIVO Software"/>
      <Setting name="HomePage" value="https://www.kivo-player.example/"/>
      <Setting name="ProductVersion" value="5.10"/>
      <Setting name="ProductVersionId" value="5100"/>
      <Setting name="ProductVersionNo" value="5.10.0.0"/>
      <Setting name="BuildDate" value="2024-05-14"/>
    </Settings>
    <Actions>
      <File name="$DEST\KIVO.exe">RunProduct</File>
      <File name="$DEST\WhatsNew.html">ShowWhatsNew</File>
    </Actions>
  </product>
</installer>
)";
}

std::string DefaultEnglishLng() {
  return "[File]\r\nName=English\r\nLangId=1033\r\nFamily=EN\r\n\r\n"
         "[Common]\r\nCaption=KIVO Setup\r\nE1=Installation aborted: %s is in use.\r\n"
         "E3=Cannot create the folder %s.\r\nE4=Setup was cancelled.\r\n"
         "QM2=The file %s is in use.\r\nA4=Copying files...\r\nA6=Saving settings...\r\n"
         "A7=Files copied.\r\nA8=Closing running programs...\r\n";
}

TMembers DefaultSetupMembers(const std::string& productName) {
  std::string script = DefaultInstallXml();
  const std::string name = "name=\"ProductName\" value=\"KIVO\"";
  script.replace(script.find(name), name.size(), "name=\"ProductName\" value=\"" + productName + "\"");
  return {{u"Install.xml", script}, {u"English.lng", DefaultEnglishLng()}, {u"License_EN.rtf", "{\\rtf1 License}"}};
}

TTestInstallerEnvironment::TTestInstallerEnvironment(TMembers setup, TMembers product)
    : FSavedClass(ProductInfoClass), FSavedFactory(ResourcesFactory) {
  TestProduct = TTestProductState();
  ProductInfoClass = []() -> std::unique_ptr<TInstallerProductInfo> {
    return std::make_unique<TInstallerTestProduct>();
  };
  ResourcesFactory = [setup, product](TInstallerProductInfo* info) {
    return std::make_unique<TInstallerResources>(info, Package(setup), Package(product));
  };
}

TTestInstallerEnvironment::~TTestInstallerEnvironment() {
  ProductInfoClass = FSavedClass;
  ResourcesFactory = FSavedFactory;
}

void TRecordingListener::Notify(int code, intptr_t data) {
  TEvent event{code, data, ::GetCurrentThreadId(), {}};
  if (code == NotifyStatus) event.Text = reinterpret_cast<const char16_t*>(data);
  Events.push_back(event);
}

std::vector<TRecordingListener::TEvent> TRecordingListener::EventsWithCode(int code) const {
  std::vector<TEvent> out;
  for (const TEvent& e : Events)
    if (e.Code == code) out.push_back(e);
  return out;
}

}  // namespace kivo::test
