#pragma once
// The read-only model of "Install.xml": the groups of file entries (components, finish
// actions, shortcuts, licences) and the product's name=value settings. The model gives
// entries no meaning; each consumer interprets its own group.
#include <memory>
#include <vector>

#include "library/StringList.h"
#include "library/Strings.h"

namespace zel {
class TStream;
class TZELXMLNode;
}  // namespace zel

namespace kivo {

class TInstallerScriptFile {
public:
  zel::String Name;        // attribute "name" (or the text of a group element without children)
  zel::String Text;        // the element's text; may be empty
  zel::String LangFamily;  // attribute "lang-family"; empty means every language

  // Text when set, else the file-name part of Name (after the last ":", "\" or "/").
  zel::String GetTextOrName() const;
};

// True when the entry is for every language or for exactly this family (case-insensitive).
bool MatchesLangFamily(const TInstallerScriptFile& entry, zel::StringView langFamily);

class TInstallerScriptGroup {
public:
  TInstallerScriptGroup() = default;
  virtual ~TInstallerScriptGroup() = default;
  TInstallerScriptGroup(const TInstallerScriptGroup&) = delete;
  TInstallerScriptGroup& operator=(const TInstallerScriptGroup&) = delete;

  size_t Count() const { return FItems.size(); }
  // 0-based; an index outside the group raises EStringListError.
  TInstallerScriptFile& Items(size_t index) const;
  // A new empty entry appended to the group.
  TInstallerScriptFile& Add();

  // Every child element through LoadItem; an element without children but with text
  // becomes one entry named by that text.
  virtual void Load(const zel::TZELXMLNode& element);
  // A "File" child becomes an entry; other names add nothing.
  virtual void LoadItem(const zel::TZELXMLNode& child);

  // The first entry, in order, that MatchesLangFamily; null when none does.
  const TInstallerScriptFile* Find(zel::StringView langFamily) const;
  bool Find(zel::StringView langFamily, const TInstallerScriptFile*& entry) const;

  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }

private:
  std::vector<std::unique_ptr<TInstallerScriptFile>> FItems;
};

class TInstallerScript {
public:
  TInstallerScript() = default;
  virtual ~TInstallerScript() = default;
  TInstallerScript(const TInstallerScript&) = delete;
  TInstallerScript& operator=(const TInstallerScript&) = delete;

  // Parses the stream's remaining bytes as XML and loads the first top-level element;
  // a document without one leaves the script as it was.
  void LoadFromStream(zel::TStream& stream);
  // root: the script's top-level element.
  void LoadFromNode(const zel::TZELXMLNode& root);
  // The value of the last settings line named `name` (case-insensitive); empty when none.
  zel::String GetValue(zel::StringView name) const;

  TInstallerScriptGroup Actions;
  TInstallerScriptGroup Components;
  TInstallerScriptGroup License;
  zel::TZELStringList Settings;  // "name=value" lines in document order
  TInstallerScriptGroup Shortcuts;

private:
  void LoadSettings(const zel::TZELXMLNode& element);
};

}  // namespace kivo
