#include "IpkToolVendor.h"

#include <cstdio>
#include <map>
#include <set>
#include <system_error>

#include "IpkToolCommon.h"
#include "core/InstallerScript.h"
#include "library/Exceptions.h"
#include "library/Streams.h"
#include "package/SetupPackage.h"

#ifdef _WIN32
#include <windows.h>
#endif

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

fs::path ExistingFolder(const String& text) {
  const fs::path folder = ToPath(text);
  if (!fs::is_directory(folder)) throw TToolError{ExitFailure, Quoted(text) + " is not a folder"};
  return folder;
}

std::unique_ptr<kivo::TInstallerScript> LoadScript(const fs::path& setupFolder) {
  const fs::path path = setupFolder / ToPath(kScriptName);
  if (!fs::is_regular_file(path))
    throw TToolError{ExitFailure, "the setup folder has no " + ToUtf8(kScriptName)};
  auto script = std::make_unique<kivo::TInstallerScript>();
  TFileStream stream(FromPath(path), FileMode::OpenRead);
  script->LoadFromStream(stream);
  return script;
}

// The problems that would only show when the setup runs: a file the script names that
// neither package holds ("Cannot locate ..."), a setting the product needs, no language.
std::vector<std::string> ScriptProblems(const fs::path& setupFolder, const fs::path& productFolder) {
  std::set<String> setupMembers, productMembers;
  for (const String& name : FolderMembers(setupFolder)) setupMembers.insert(kivo::TSetupPackageFileTable::NameKey(name));
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
  bool language = false;
  for (const String& key : setupMembers) language |= SameText(ExtractFileExt(key), u".lng");
  if (!language) problems.push_back("the setup folder has no language file (*.lng)");
  return problems;
}

void RequireConsistent(const fs::path& setupFolder, const fs::path& productFolder) {
  const std::vector<std::string> problems = ScriptProblems(setupFolder, productFolder);
  if (problems.empty()) return;
  std::string message = "the setup would fail:";
  for (const std::string& p : problems) message += "\n  " + p;
  throw TToolError{ExitRefused, message};
}

}  // namespace

int CmdComponents(const std::vector<String>& args) {
  std::vector<String> positional, families;
  String separator = u"_";
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == u"--families" || args[i] == u"--separator") {
      if (i + 1 == args.size()) throw TToolError{ExitUsage, ToUtf8(args[i]) + " needs a value"};
      if (args[i] == u"--separator") {
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
  std::fputs(out.c_str(), stdout);
  return ExitOk;
}

int CmdCheck(const std::vector<String>& args) {
  if (args.size() != 2) throw TToolError{ExitUsage, "check takes SETUP_DIR and PRODUCT_DIR"};
  RequireConsistent(ExistingFolder(args[0]), ExistingFolder(args[1]));
  std::printf("%s and %s: OK\n", ToUtf8(args[0]).c_str(), ToUtf8(args[1]).c_str());
  return ExitOk;
}

#ifdef _WIN32

namespace {

class TLibraryData {
public:
  explicit TLibraryData(const String& path)
      : FModule(::LoadLibraryExW(reinterpret_cast<LPCWSTR>(path.c_str()), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
  ~TLibraryData() {
    if (FModule) ::FreeLibrary(FModule);
  }
  TLibraryData(const TLibraryData&) = delete;
  TLibraryData& operator=(const TLibraryData&) = delete;
  HMODULE Get() const { return FModule; }

private:
  HMODULE FModule;
};

BOOL CALLBACK TakeLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
  *reinterpret_cast<WORD*>(found) = language;
  return FALSE;  // the first is enough
}

// The language of an RT_RCDATA resource, so the replacement takes its place instead of
// standing beside it; false when the module has no such resource.
bool ResourceLanguage(HMODULE module, const wchar_t* name, WORD& language) {
  if (!::FindResourceW(module, name, RT_RCDATA)) return false;
  language = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
  ::EnumResourceLanguagesW(module, RT_RCDATA, name, TakeLanguage, reinterpret_cast<LONG_PTR>(&language));
  return true;
}

std::vector<uint8_t> ResourceBytes(HMODULE module, const wchar_t* name) {
  HRSRC info = ::FindResourceW(module, name, RT_RCDATA);
  HGLOBAL loaded = info ? ::LoadResource(module, info) : nullptr;
  const auto* data = static_cast<const uint8_t*>(loaded ? ::LockResource(loaded) : nullptr);
  if (!data) return {};
  return std::vector<uint8_t>(data, data + ::SizeofResource(module, info));
}

std::string LastErrorText() { return ToUtf8(zel::platform::SystemErrorMessage(::GetLastError())); }

}  // namespace

int CmdSetup(const std::vector<String>& args) {
  std::vector<String> positional;
  int level = kivo::kSetupPackageDefaultLevel;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == u"--level") {
      int32_t v;
      if (i + 1 == args.size() || !TryStrToInt(args[i + 1], v) || v < 0 || v > 9)
        throw TToolError{ExitUsage, "--level needs a value 0..9"};
      level = v;
      ++i;
    } else if (StartsWith(args[i], u"--")) {
      throw TToolError{ExitUsage, "unknown option " + ToUtf8(args[i])};
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.size() != 4) throw TToolError{ExitUsage, "setup takes SETUP_EXE SETUP_DIR PRODUCT_DIR OUT_EXE"};
  const String& prebuilt = positional[0];
  const fs::path setupFolder = ExistingFolder(positional[1]);
  const fs::path productFolder = ExistingFolder(positional[2]);
  const String& out = positional[3];
  std::error_code ec;
  if (fs::equivalent(ToPath(prebuilt), ToPath(out), ec))
    throw TToolError{ExitUsage, "OUT_EXE must be a new file, not the prebuilt Setup.exe"};
  RequireConsistent(setupFolder, productFolder);

  WORD setupLanguage = 0, productLanguage = 0;
  {
    TLibraryData module(prebuilt);
    if (!module.Get()) throw TToolError{ExitFailure, Quoted(prebuilt) + ": " + LastErrorText()};
    if (!ResourceLanguage(module.Get(), L"SETUP", setupLanguage) ||
        !ResourceLanguage(module.Get(), L"PRODUCT", productLanguage))
      throw TToolError{ExitFailure, Quoted(prebuilt) + " is not a setup program (no SETUP and PRODUCT packages)"};
  }

  auto packageOf = [level](const fs::path& folder) {
    TMemoryStream package;
    BuildPackage(folder, FolderMembers(folder), level, package);
    return std::vector<uint8_t>(package.Memory(), package.Memory() + package.Size());
  };
  const std::vector<uint8_t> setupPackage = packageOf(setupFolder);
  const std::vector<uint8_t> productPackage = packageOf(productFolder);

  const fs::path outPath = ToPath(out);
  auto fail = [&](const std::string& message) {
    fs::remove(outPath, ec);  // no half-made setup left for anyone to ship
    throw TToolError{ExitFailure, message};
  };
  if (!fs::copy_file(ToPath(prebuilt), outPath, fs::copy_options::overwrite_existing, ec))
    fail(Quoted(out) + ": " + ec.message());
  ::SetFileAttributesW(outPath.c_str(), FILE_ATTRIBUTE_NORMAL);
  HANDLE update = ::BeginUpdateResourceW(outPath.c_str(), FALSE);
  if (!update) fail(Quoted(out) + ": " + LastErrorText());
  const bool written =
      ::UpdateResourceW(update, RT_RCDATA, L"SETUP", setupLanguage, const_cast<uint8_t*>(setupPackage.data()),
                        static_cast<DWORD>(setupPackage.size())) &&
      ::UpdateResourceW(update, RT_RCDATA, L"PRODUCT", productLanguage, const_cast<uint8_t*>(productPackage.data()),
                        static_cast<DWORD>(productPackage.size()));
  const std::string writeError = written ? std::string() : LastErrorText();
  if (!::EndUpdateResourceW(update, !written) || !written)
    fail(Quoted(out) + ": the packages cannot be written: " + (written ? LastErrorText() : writeError));

  // Read back what a running setup will find.
  {
    TLibraryData module(out);
    if (!module.Get() || ResourceBytes(module.Get(), L"SETUP") != setupPackage ||
        ResourceBytes(module.Get(), L"PRODUCT") != productPackage)
      fail(Quoted(out) + ": the packages read back differ from those written");
  }
  std::printf("%s: SETUP %zu bytes, PRODUCT %zu bytes\n", ToUtf8(out).c_str(), setupPackage.size(),
              productPackage.size());
  return ExitOk;
}

#else

int CmdSetup(const std::vector<String>&) {
  throw TToolError{ExitUsage, "setup writes Windows resources: run the Windows package tool (ipktool.exe)"};
}

#endif

}  // namespace ipktool
