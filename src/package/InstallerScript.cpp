#include "package/InstallerScript.h"

#include "library/Streams.h"
#include "library/Xml.h"

namespace kivo {

using namespace zel;

String TInstallerScriptFile::GetTextOrName() const { return Text.empty() ? ExtractFileName(Name) : Text; }

bool MatchesLangFamily(const TInstallerScriptFile& entry, StringView langFamily) {
  return entry.LangFamily.empty() || SameText(entry.LangFamily, langFamily);
}

TInstallerScriptFile& TInstallerScriptGroup::Items(size_t index) const {
  if (index >= FItems.size())
    throw EStringListError(Format(u"List index out of bounds (%d)", static_cast<long long>(index)));
  return *FItems[index];
}

TInstallerScriptFile& TInstallerScriptGroup::Add() {
  FItems.push_back(std::make_unique<TInstallerScriptFile>());
  return *FItems.back();
}

void TInstallerScriptGroup::Load(const TZELXMLNode& element) {
  for (const auto& child : element.Children()) LoadItem(*child);
  // A group written as bare text ("<license>License.rtf</license>") names one entry.
  if (element.ChildCount() == 0 && !element.Text().empty()) Add().Name = element.Text();
}

void TInstallerScriptGroup::LoadItem(const TZELXMLNode& child) {
  if (child.Name() != "File") return;
  TInstallerScriptFile& entry = Add();
  entry.Text = child.Text();
  entry.Name = child.AttributeValue("name");
  entry.LangFamily = child.AttributeValue("lang-family");
}

const TInstallerScriptFile* TInstallerScriptGroup::Find(StringView langFamily) const {
  for (const auto& item : FItems)
    if (MatchesLangFamily(*item, langFamily)) return item.get();
  return nullptr;
}

bool TInstallerScriptGroup::Find(StringView langFamily, const TInstallerScriptFile*& entry) const {
  entry = Find(langFamily);
  return entry != nullptr;
}

void TInstallerScript::LoadFromStream(TStream& stream) {
  TZELXMLDocument document(stream);
  if (const TZELXMLNode* root = document.Child(0)) LoadFromNode(*root);
}

void TInstallerScript::LoadFromNode(const TZELXMLNode& root) {
  if (const TZELXMLNode* setup = root.FindChild("setup"))
    if (const TZELXMLNode* license = setup->FindChild("license")) License.Load(*license);

  const TZELXMLNode* product = root.FindChild("product");
  if (!product) return;
  // Names are compared exactly: "components" is not "Components". Repeated group
  // elements add to the same group.
  for (const auto& child : product->Children()) {
    const std::string& name = child->Name();
    if (name == "Components") Components.Load(*child);
    else if (name == "Actions") Actions.Load(*child);
    else if (name == "Settings") LoadSettings(*child);
    else if (name == "Shortcuts") Shortcuts.Load(*child);
  }
}

void TInstallerScript::LoadSettings(const TZELXMLNode& element) {
  Settings.Reserve(Settings.Count() + element.ChildCount());
  for (const auto& child : element.Children()) {
    String line = child->AttributeValue("name");
    line += TZELStringList::NameValueSeparator;
    line += child->AttributeValue("value");
    Settings.Add(line);
  }
}

String TInstallerScript::GetValue(StringView name) const { return Settings.Values(name); }

}  // namespace kivo
