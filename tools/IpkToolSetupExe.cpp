// The package tool's "setup" command: a Setup.exe made from a prebuilt one, with the
// vendor's packages in place of its own "SETUP" and "PRODUCT" resources. Windows only.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "IpkToolCommon.h"
#include "IpkToolVendor.h"
#include "library/Exceptions.h"
#include "library/Streams.h"
#include "package/SetupPackage.h"
#include "platform/Platform.h"

namespace fs = std::filesystem;
using namespace zel;

namespace ipktool {

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

// --- The version resource and the icon

using TBytes = std::vector<uint8_t>;

void Put16(TBytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(TBytes& b, uint32_t v) {
  Put16(b, static_cast<uint16_t>(v));
  Put16(b, static_cast<uint16_t>(v >> 16));
}
void Align4(TBytes& b) { b.resize((b.size() + 3) & ~size_t(3), 0); }

// One node of a version resource: length, value length, type, key, then the value and
// the children, each on a 32-bit boundary.
TBytes VersionNode(StringView key, const TBytes& value, uint16_t valueLength, uint16_t type,
                   const std::vector<TBytes>& children = {}) {
  TBytes b(6, 0);
  for (char16_t c : key) Put16(b, c);
  Put16(b, 0);
  Align4(b);
  b.insert(b.end(), value.begin(), value.end());
  for (const TBytes& child : children) {
    Align4(b);
    b.insert(b.end(), child.begin(), child.end());
  }
  b[0] = static_cast<uint8_t>(b.size());
  b[1] = static_cast<uint8_t>(b.size() >> 8);
  b[2] = static_cast<uint8_t>(valueLength);
  b[3] = static_cast<uint8_t>(valueLength >> 8);
  b[4] = static_cast<uint8_t>(type);
  return b;
}

TBytes VersionResource(const TSetupIdentity& identity) {
  const uint16_t* v = identity.FixedVersion;
  TBytes fixed;
  Put32(fixed, 0xFEEF04BD);  // VS_FIXEDFILEINFO: signature, structure version
  Put32(fixed, 0x00010000);
  for (int twice = 0; twice < 2; ++twice) {  // file version, then product version
    Put32(fixed, (uint32_t(v[0]) << 16) | v[1]);
    Put32(fixed, (uint32_t(v[2]) << 16) | v[3]);
  }
  for (uint32_t field : {0x3Fu, 0u, 0x40004u /* VOS_NT_WINDOWS32 */, 1u /* VFT_APP */, 0u, 0u, 0u}) Put32(fixed, field);
  std::vector<TBytes> strings;
  const std::pair<const char16_t*, String> values[] = {
      {u"CompanyName", identity.CompanyName},       {u"FileDescription", identity.FileDescription},
      {u"FileVersion", identity.FileVersion},       {u"ProductName", identity.ProductName},
      {u"ProductVersion", identity.ProductVersion}, {u"OriginalFilename", u"Setup.exe"}};
  for (const auto& [name, text] : values) {
    TBytes value;
    for (char16_t c : text) Put16(value, c);
    Put16(value, 0);
    strings.push_back(VersionNode(name, value, static_cast<uint16_t>(text.size() + 1), 1));
  }
  TBytes translation;
  Put16(translation, 0x0409);
  Put16(translation, 1200);
  return VersionNode(u"VS_VERSION_INFO", fixed, static_cast<uint16_t>(fixed.size()), 0,
                     {VersionNode(u"StringFileInfo", {}, 0, 1, {VersionNode(u"040904B0", {}, 0, 1, strings)}),
                      VersionNode(u"VarFileInfo", {}, 0, 1, {VersionNode(u"Translation", translation, 4, 0)})});
}

// An icon file's images as RT_ICON resources (ids 1..n) and the RT_GROUP_ICON naming them.
struct TIconResources {
  std::vector<TBytes> Images;
  TBytes Group;
};

TIconResources IconResources(const fs::path& icon) {
  const TBytes file = ReadFileBytes(FromPath(icon));
  auto at16 = [&](size_t i) { return static_cast<uint16_t>(file[i] | file[i + 1] << 8); };
  auto at32 = [&](size_t i) { return static_cast<uint32_t>(at16(i) | uint32_t(at16(i + 2)) << 16); };
  const std::string bad = Quoted(FromPath(icon.filename())) + " is not an icon file";
  if (file.size() < 6 || at16(0) != 0 || at16(2) != 1 || at16(4) == 0 || file.size() < 6 + 16 * size_t(at16(4)))
    throw TToolError{ExitFailure, bad};
  TIconResources out;
  const uint16_t count = at16(4);
  Put16(out.Group, 0);
  Put16(out.Group, 1);
  Put16(out.Group, count);
  for (uint16_t i = 0; i < count; ++i) {
    const size_t entry = 6 + 16 * size_t(i);
    const uint32_t size = at32(entry + 8), offset = at32(entry + 12);
    if (offset > file.size() || size > file.size() - offset) throw TToolError{ExitFailure, bad};
    out.Images.emplace_back(file.begin() + offset, file.begin() + offset + size);
    out.Group.insert(out.Group.end(), file.begin() + entry, file.begin() + entry + 12);
    Put16(out.Group, static_cast<uint16_t>(i + 1));
  }
  return out;
}

// Every (name, language) of a resource type, to be replaced.
struct TResourceName {
  std::wstring Name;  // "#12" for a numeric id
  WORD Id = 0;
  WORD Language = 0;
};

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR name, WORD language, LONG_PTR list) {
  auto* names = reinterpret_cast<std::vector<TResourceName>*>(list);
  TResourceName item;
  if (IS_INTRESOURCE(name)) item.Id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name));
  else item.Name = name;
  item.Language = language;
  names->push_back(item);
  return TRUE;
}

BOOL CALLBACK AddName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR list) {
  ::EnumResourceLanguagesW(module, type, name, AddLanguage, list);
  return TRUE;
}

std::vector<TResourceName> ResourcesOfType(HMODULE module, LPCWSTR type) {
  std::vector<TResourceName> names;
  ::EnumResourceNamesW(module, type, AddName, reinterpret_cast<LONG_PTR>(&names));
  return names;
}

LPCWSTR NameOf(const TResourceName& r) { return r.Name.empty() ? MAKEINTRESOURCEW(r.Id) : r.Name.c_str(); }

// --- The signature

// Where the certificate table's directory entry lies in a PE file, or 0 when the file is
// not one.
std::streamoff SecurityDirectoryOffset(std::fstream& file) {
  auto read32 = [&](std::streamoff at) {
    uint8_t b[4] = {};
    file.seekg(at);
    file.read(reinterpret_cast<char*>(b), 4);
    return file ? uint32_t(b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24) : 0u;
  };
  const uint32_t pe = read32(0x3C);
  if (!pe || read32(pe) != 0x00004550) return 0;  // "PE\0\0"
  const std::streamoff optional = std::streamoff(pe) + 24;
  const uint16_t magic = static_cast<uint16_t>(read32(optional));
  // The data directories follow the fixed fields: 96 bytes in PE32, 112 in PE32+.
  if (magic != 0x10B && magic != 0x20B) return 0;
  return optional + (magic == 0x20B ? 112 : 96) + 8 * IMAGE_DIRECTORY_ENTRY_SECURITY;
}

// Removes the Authenticode signature of a PE file (its table is the file's last part):
// once the resources change it no longer matches, and a stale one makes Windows report
// the file as tampered with. True when there was one.
bool DropSignature(const fs::path& path) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  const std::streamoff entry = file ? SecurityDirectoryOffset(file) : 0;
  if (!entry) return false;
  uint8_t b[8] = {};
  file.seekg(entry);
  file.read(reinterpret_cast<char*>(b), 8);
  const uint32_t offset = b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24;
  const uint32_t size = b[4] | b[5] << 8 | b[6] << 16 | uint32_t(b[7]) << 24;
  if (!file || (offset == 0 && size == 0)) return false;
  const uint8_t zero[8] = {};
  file.seekp(entry);
  file.write(reinterpret_cast<const char*>(zero), 8);
  file.close();
  std::error_code error;
  if (offset && uint64_t(offset) + size == fs::file_size(path, error)) fs::resize_file(path, offset, error);
  return true;
}

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
  std::vector<TResourceName> oldVersions, oldIcons, oldGroups;
  {
    TLibraryData module(prebuilt);
    if (!module.Get()) throw TToolError{ExitFailure, Quoted(prebuilt) + ": " + LastErrorText()};
    if (!ResourceLanguage(module.Get(), L"SETUP", setupLanguage) ||
        !ResourceLanguage(module.Get(), L"PRODUCT", productLanguage))
      throw TToolError{ExitFailure, Quoted(prebuilt) + " is not a setup program (no SETUP and PRODUCT packages)"};
    oldVersions = ResourcesOfType(module.Get(), RT_VERSION);
    oldIcons = ResourcesOfType(module.Get(), RT_ICON);
    oldGroups = ResourcesOfType(module.Get(), RT_GROUP_ICON);
  }
  // Windows shows the vendor's product, not the prebuilt one's.
  const TSetupIdentity identity = SetupIdentity(setupFolder);
  const TBytes version = VersionResource(identity);
  const TIconResources icon = identity.Icon.empty() ? TIconResources() : IconResources(identity.Icon);
  if (identity.Icon.empty())
    std::fprintf(stderr, "ipktool: the setup folder has no Setup.ico: the prebuilt program's icon stays\n");

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
  bool written =
      ::UpdateResourceW(update, RT_RCDATA, L"SETUP", setupLanguage, const_cast<uint8_t*>(setupPackage.data()),
                        static_cast<DWORD>(setupPackage.size())) &&
      ::UpdateResourceW(update, RT_RCDATA, L"PRODUCT", productLanguage, const_cast<uint8_t*>(productPackage.data()),
                        static_cast<DWORD>(productPackage.size()));
  const WORD english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
  for (const TResourceName& r : oldVersions)  // no data: the resource is deleted
    written = written && ::UpdateResourceW(update, RT_VERSION, NameOf(r), r.Language, nullptr, 0);
  written = written && ::UpdateResourceW(update, RT_VERSION, MAKEINTRESOURCEW(1), english,
                                         const_cast<uint8_t*>(version.data()), static_cast<DWORD>(version.size()));
  if (!icon.Images.empty()) {
    const WORD iconLanguage = oldGroups.empty() ? english : oldGroups.front().Language;
    for (const TResourceName& r : oldIcons)
      written = written && ::UpdateResourceW(update, RT_ICON, NameOf(r), r.Language, nullptr, 0);
    for (const TResourceName& r : oldGroups)
      written = written && ::UpdateResourceW(update, RT_GROUP_ICON, NameOf(r), r.Language, nullptr, 0);
    for (size_t i = 0; i < icon.Images.size(); ++i)
      written = written && ::UpdateResourceW(update, RT_ICON, MAKEINTRESOURCEW(i + 1), iconLanguage,
                                             const_cast<uint8_t*>(icon.Images[i].data()),
                                             static_cast<DWORD>(icon.Images[i].size()));
    written =
        written && ::UpdateResourceW(update, RT_GROUP_ICON, MAKEINTRESOURCEW(1), iconLanguage,
                                     const_cast<uint8_t*>(icon.Group.data()), static_cast<DWORD>(icon.Group.size()));
  }
  const std::string writeError = written ? std::string() : LastErrorText();
  if (!::EndUpdateResourceW(update, !written) || !written)
    fail(Quoted(out) + ": the resources cannot be written: " + (written ? LastErrorText() : writeError));

  if (DropSignature(outPath))
    std::fprintf(stderr, "ipktool: %s was signed; %s carries no signature: sign it again\n", Quoted(prebuilt).c_str(),
                 Quoted(out).c_str());

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

}  // namespace ipktool
