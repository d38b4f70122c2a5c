#include "IpkToolVendor.h"

#include <cstdio>
#include <map>
#include <set>
#include <system_error>

#include "IpkToolCommon.h"
#include "package/InstallerScript.h"
#include "library/Exceptions.h"
#include "library/IniFile.h"
#include "library/Streams.h"
#include "library/StringList.h"
#include "package/PathVariables.h"
#include "package/SetupPackage.h"

namespace fs = std::filesystem;
using namespace zel;

namespace ipktool {

namespace {

const String kScriptName = u"Install.xml";

String XmlEscaped(StringView text) {
  String out;
  for (char16_t c : text) {
    switch (c) {
      case u'&': out += u"&amp;"; break;
      case u'<': out += u"&lt;"; break;
      case u'>': out += u"&gt;"; break;
      case u'"': out += u"&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// The language family a member belongs to by the vendor's naming rule: a file name whose
// base ends in separator + family ("Readme_DE.txt" with "_" and DE) is that family's
// copy of the target without the suffix ("Readme.txt"). Empty family: every language.
struct TComponent {
  String Member;
  String Target;  // relative to the destination
  String Family;
};

TComponent ComponentOf(const String& member, const std::vector<String>& families, StringView separator) {
  TComponent component{member, member, {}};
  const size_t folderEnd = member.rfind(u'\\') + 1;  // 0 when there is no folder
  size_t dot = member.rfind(u'.');
  if (dot == String::npos || dot < folderEnd) dot = member.size();
  const StringView base = StringView(member).substr(folderEnd, dot - folderEnd);
  for (const String& family : families) {
    const String suffix = String(separator) + family;
    if (base.size() <= suffix.size() || !SameText(base.substr(base.size() - suffix.size()), suffix)) continue;
    component.Family = family;
    component.Target = member.substr(0, dot - suffix.size()) + member.substr(dot);
    break;
  }
  return component;
}

// Two entries that would write the same file in the same language: one of them would be
// lost without a word, so the list is refused.
void CheckTargetsUnique(const std::vector<TComponent>& components) {
  std::map<String, std::set<String>> familiesByTarget;  // keys folded: Windows ignores case
  std::map<String, const TComponent*> firstByTarget;
  for (const TComponent& c : components) {
    const String key = kivo::TSetupPackageFileTable::NameKey(c.Target);
    auto& families = familiesByTarget[key];
    const String family = UpperCase(c.Family);
    const bool clash = families.count(family) || (family.empty() && !families.empty()) || families.count(u"");
    if (clash)
      throw TToolError{ExitRefused, Quoted(c.Member) + " and " + Quoted(firstByTarget[key]->Member) +
                                        " would both install " + Quoted(c.Target) + " for the same language"};
    families.insert(family);
    firstByTarget.emplace(key, &c);
  }
}

// Puts `block` in place of the lines from the one holding "<Components>" to the one
// holding "</Components>" of a UTF-8 script, keeping everything else byte for byte.
void ReplaceComponents(const String& script, const std::string& block) {
  const std::vector<uint8_t> bytes = ReadFileBytes(script);
  const std::string text(bytes.begin(), bytes.end());
  const size_t open = text.find("<Components>"), close = text.find("</Components>");
  if (open == std::string::npos || close == std::string::npos || close < open)
    throw TToolError{ExitFailure, Quoted(script) + " has no <Components> ... </Components> to replace"};
  const size_t begin = text.rfind('\n', open) == std::string::npos ? 0 : text.rfind('\n', open) + 1;
  size_t end = text.find('\n', close);
  end = end == std::string::npos ? text.size() : end + 1;
  std::string result = text.substr(0, begin) + block + text.substr(end);
  if (text.find("\r\n") != std::string::npos) {  // a script with CR LF lines keeps them
    std::string crlf;
    for (size_t i = 0; i < result.size(); ++i) {
      if (result[i] == '\n' && (i == 0 || result[i - 1] != '\r')) crlf += '\r';
      crlf += result[i];
    }
    result = std::move(crlf);
  }
  TFileStream out(script, FileMode::Create);
  out.WriteBuffer(result.data(), result.size());
}

}  // namespace

fs::path ExistingFolder(const String& text) {
  const fs::path folder = FolderPath(text);
  if (!fs::is_directory(folder)) throw TToolError{ExitFailure, Quoted(text) + " is not a folder"};
  return folder;
}

namespace {

std::unique_ptr<kivo::TInstallerScript> LoadScript(const fs::path& setupFolder) {
  const fs::path path = setupFolder / ToPath(kScriptName);
  if (!fs::is_regular_file(path)) throw TToolError{ExitFailure, "the setup folder has no " + ToUtf8(kScriptName)};
  auto script = std::make_unique<kivo::TInstallerScript>();
  TFileStream stream(FromPath(path), FileMode::OpenRead);
  script->LoadFromStream(stream);
  return script;
}

// A file of the installation that a shortcut or a finish action names as "$DEST\...", as
// a folded name relative to the destination; empty for anything else (a URL, $TEMP...).
String InstalledFileKey(StringView path) {
  static constexpr StringView kDest = u"$DEST";
  if (path.substr(0, kDest.size()) != kDest) return {};
  String rest(path.substr(kDest.size()));
  while (!rest.empty() && rest.front() == u'\\') rest.erase(0, 1);
  return rest.empty() ? rest : kivo::TSetupPackageFileTable::NameKey(kivo::CleanPath(rest));
}

// The problems that would only show when the setup runs: a file the script names that
// neither package holds ("Cannot locate ..."), a shortcut or finish action for a file that
// is not installed, an add-on installer that is not there, a setting the product needs,
// no language.
std::vector<std::string> ScriptProblems(const fs::path& setupFolder, const fs::path& productFolder) {
  std::set<String> setupMembers, productMembers;
  for (const String& name : FolderMembers(setupFolder))
    setupMembers.insert(kivo::TSetupPackageFileTable::NameKey(name));
  for (const String& name : FolderMembers(productFolder))
    productMembers.insert(kivo::TSetupPackageFileTable::NameKey(name));
  const auto script = LoadScript(setupFolder);
  std::vector<std::string> problems;
  for (const char16_t* setting : {u"ProductName", u"ProductVersion", u"ProductVersionId"})
    if (script->GetValue(setting).empty()) problems.push_back("Install.xml has no setting " + Quoted(setting));
  // The setup serves a member from the product package first, then from the setup package.
  auto held = [&](const String& member) {
    const String key = kivo::TSetupPackageFileTable::NameKey(member);
    return productMembers.count(key) || setupMembers.count(key);
  };
  for (const auto& entry : script->Components)
    if (!held(entry->GetTextOrName()))
      problems.push_back("component " + Quoted(entry->Name) + " needs the file " + Quoted(entry->GetTextOrName()) +
                         ", which neither folder holds");
  for (const auto& entry : script->License)
    if (!held(entry->GetTextOrName()))
      problems.push_back("licence " + Quoted(entry->GetTextOrName()) + " is in neither folder");
  // What the run writes into the destination: the components and the uninstaller.
  std::set<String> installed = {InstalledFileKey(u"$DEST\\Uninstall.exe")};
  for (const auto& entry : script->Components) installed.insert(InstalledFileKey(entry->Name));
  // The uninstaller removes the desktop's "<name>.lnk" and the start menu's "<name>\"
  // folder: a shortcut anywhere else would outlive the product.
  const String name = script->GetValue(u"ProductName");
  for (const auto& entry : script->Shortcuts) {
    const String link = kivo::CleanPath(entry->Name);
    if (!name.empty() && !SameText(link, u"$DESKTOP\\" + name + u".lnk") &&
        !StartsWithText(link, u"$STARTMENU\\" + name + u"\\"))
      problems.push_back("shortcut " + Quoted(entry->Name) + " would stay after an uninstall, which removes only " +
                         Quoted(u"$DESKTOP\\" + name + u".lnk") + " and the folder " +
                         Quoted(u"$STARTMENU\\" + name + u"\\"));
    const String key = InstalledFileKey(entry->GetTextOrName());
    if (!key.empty() && !installed.count(key))
      problems.push_back("shortcut " + Quoted(entry->Name) + " points to " + Quoted(entry->GetTextOrName()) +
                         ", which no component installs");
  }
  for (const auto& entry : script->Actions) {
    const String key = InstalledFileKey(entry->Name);
    if (!key.empty() && !installed.count(key))
      problems.push_back("finish action " + Quoted(entry->Name) + " opens a file that no component installs");
  }
  // The add-ons page and action read addons.ini: its installer ("P4") and picture ("I0").
  for (const fs::path& folder : {productFolder, setupFolder}) {
    std::error_code error;
    const fs::path addons = folder / "addons.ini";
    if (!fs::is_regular_file(addons, error)) continue;
    const std::vector<uint8_t> bytes = ReadFileBytes(FromPath(addons));
    TZELIniEncoding encoding;
    TZELStringList list;
    list.SetText(DecodeIniText(bytes.data(), bytes.size(), encoding));
    for (const char16_t* key : {u"P4", u"I0"}) {
      const String member = list.Values(key);
      if (member.empty())
        problems.push_back("addons.ini has no " + ToUtf8(key) + " (the add-on " +
                           (key == StringView(u"P4") ? "installer" : "picture") +
                           "); a product without add-ons leaves addons.ini out");
      else if (!held(member))
        problems.push_back("addons.ini names " + Quoted(member) + ", which neither folder holds" +
                           " (a product without add-ons leaves addons.ini out)");
    }
    break;  // the product package's copy is the one the setup reads
  }
  bool language = false;
  for (const String& key : setupMembers) language |= SameText(ExtractFileExt(key), u".lng");
  if (!language) problems.push_back("the setup folder has no language file (*.lng)");
  return problems;
}

}  // namespace

void RequireConsistent(const fs::path& setupFolder, const fs::path& productFolder) {
  const std::vector<std::string> problems = ScriptProblems(setupFolder, productFolder);
  if (problems.empty()) return;
  std::string message = "the setup would fail:";
  for (const std::string& p : problems) message += "\n  " + p;
  throw TToolError{ExitRefused, message};
}

int CmdComponents(const std::vector<String>& args) {
  std::vector<String> positional, families;
  String separator = u"_", into;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == u"--families" || args[i] == u"--separator" || args[i] == u"--into") {
      if (i + 1 == args.size()) throw TToolError{ExitUsage, ToUtf8(args[i]) + " needs a value"};
      if (args[i] == u"--into") {
        into = args[++i];
      } else if (args[i] == u"--separator") {
        separator = args[++i];
        if (separator.empty()) throw TToolError{ExitUsage, "the separator cannot be empty"};
      } else {
        for (const String& family : Split(args[++i], u','))
          if (!Trim(family).empty()) families.push_back(Trim(family));
      }
    } else if (StartsWith(args[i], u"--")) {
      throw TToolError{ExitUsage, "unknown option " + ToUtf8(args[i])};
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.size() != 1) throw TToolError{ExitUsage, "components takes DIR"};
  const fs::path root = ExistingFolder(positional[0]);

  std::vector<TComponent> components;
  for (const String& member : FolderMembers(root)) components.push_back(ComponentOf(member, families, separator));
  CheckTargetsUnique(components);

  std::string out = "    <Components>\n";
  for (const TComponent& c : components) {
    String line = u"      <File name=\"$DEST\\" + XmlEscaped(c.Target) + u"\"";
    if (!c.Family.empty()) line += u" lang-family=\"" + XmlEscaped(c.Family) + u"\"";
    line += u">" + XmlEscaped(c.Member) + u"</File>\n";
    out += ToUtf8(line);
  }
  out += "    </Components>\n";
  if (into.empty()) {
    std::fputs(out.c_str(), stdout);
  } else {
    ReplaceComponents(into, out);
    std::printf("%s: %zu components\n", ToUtf8(into).c_str(), components.size());
  }
  return ExitOk;
}

int CmdCheck(const std::vector<String>& args) {
  if (args.size() != 2) throw TToolError{ExitUsage, "check takes SETUP_DIR and PRODUCT_DIR"};
  RequireConsistent(ExistingFolder(args[0]), ExistingFolder(args[1]));
  std::printf("%s and %s: OK\n", ToUtf8(args[0]).c_str(), ToUtf8(args[1]).c_str());
  return ExitOk;
}

TSetupIdentity SetupIdentity(const fs::path& setupFolder) {
  const auto script = LoadScript(setupFolder);
  TSetupIdentity identity;
  identity.ProductName = script->GetValue(u"ProductName");
  identity.CompanyName = script->GetValue(u"Publisher");
  identity.FileDescription = identity.ProductName + u" Setup";
  identity.ProductVersion = script->GetValue(u"ProductVersion");
  identity.FileVersion = script->GetValue(u"ProductVersionNo");
  if (identity.FileVersion.empty()) identity.FileVersion = identity.ProductVersion;
  // "1.20.0.0" (or "1.20") into the four numbers of the binary version; what is not a
  // number counts 0.
  const std::vector<String> parts = Split(identity.FileVersion, u'.');
  for (size_t i = 0; i < parts.size() && i < 4; ++i) {
    int32_t v = 0;
    if (TryStrToInt(Trim(parts[i]), v) && v >= 0 && v <= 0xFFFF) identity.FixedVersion[i] = static_cast<uint16_t>(v);
  }
  std::error_code error;
  const fs::path icon = setupFolder / "Setup.ico";
  if (fs::is_regular_file(icon, error)) identity.Icon = icon;
  return identity;
}

namespace {

// A string of a resource script: UTF-8 (the script says so), quotes doubled, backslashes
// escaped.
std::string RcString(StringView text) {
  std::string out = "\"";
  for (char c : ToUtf8(text)) {
    if (c == '"') out += "\"\"";
    else if (c == '\\') out += "\\\\";
    else out += c;
  }
  return out + "\"";
}

}  // namespace

// The build's route: a resource script with the setup folder's version information and
// icon (or `--default-icon` when the folder has none), written only when it changes.
int CmdIdentity(const std::vector<String>& args) {
  std::vector<String> positional;
  String defaultIcon;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == u"--default-icon") {
      if (i + 1 == args.size()) throw TToolError{ExitUsage, "--default-icon needs a value"};
      defaultIcon = args[++i];
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.size() != 2) throw TToolError{ExitUsage, "identity takes SETUP_DIR and OUT_RC"};
  const TSetupIdentity identity = SetupIdentity(ExistingFolder(positional[0]));
  const String icon = identity.Icon.empty() ? defaultIcon : FromPath(identity.Icon);
  const uint16_t* v = identity.FixedVersion;
  const std::string numbers =
      std::to_string(v[0]) + "," + std::to_string(v[1]) + "," + std::to_string(v[2]) + "," + std::to_string(v[3]);
  std::string rc = "#pragma code_page(65001)\n";
  if (!icon.empty()) rc += "1 ICON " + RcString(icon) + "\n";
  rc +=
      "1 VERSIONINFO\nFILEVERSION " + numbers + "\nPRODUCTVERSION " + numbers +
      "\nFILEOS 0x40004\nFILETYPE 0x1\nBEGIN\n  BLOCK \"StringFileInfo\"\n  BEGIN\n    BLOCK \"040904B0\"\n    BEGIN\n";
  const std::pair<const char*, const String*> values[] = {{"CompanyName", &identity.CompanyName},
                                                          {"FileDescription", &identity.FileDescription},
                                                          {"FileVersion", &identity.FileVersion},
                                                          {"ProductName", &identity.ProductName},
                                                          {"ProductVersion", &identity.ProductVersion}};
  for (const auto& [name, value] : values)
    rc += std::string("      VALUE \"") + name + "\", " + RcString(*value) + "\n";
  rc +=
      "      VALUE \"OriginalFilename\", \"Setup.exe\"\n    END\n  END\n"
      "  BLOCK \"VarFileInfo\"\n  BEGIN\n    VALUE \"Translation\", 0x409, 1200\n  END\nEND\n";
  const fs::path out = ToPath(positional[1]);
  std::error_code error;
  if (fs::is_regular_file(out, error)) {
    const std::vector<uint8_t> old = ReadFileBytes(positional[1]);
    if (std::string(old.begin(), old.end()) == rc) return ExitOk;  // unchanged: nothing relinks
  }
  TFileStream file(positional[1], FileMode::Create);
  file.WriteBuffer(rc.data(), rc.size());
  return ExitOk;
}

#ifndef _WIN32

int CmdSetup(const std::vector<String>&) {
  throw TToolError{ExitUsage, "setup writes Windows resources: run the Windows package tool (ipktool.exe)"};
}

#endif

}  // namespace ipktool
