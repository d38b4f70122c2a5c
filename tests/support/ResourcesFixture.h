#pragma once
// Building setup packages, language files and icons in memory for the tests of the
// resources and the language dialog.
#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "library/Streams.h"
#include "package/SetupPackage.h"
#include "package/win/InstallerResources.h"
#include "package/win/ProductInfo.h"

namespace kivo::test {

using TMembers = std::vector<std::pair<zel::String, std::string>>;

inline std::vector<uint8_t> PackageBytes(const TMembers& members) {
  TSetupPackageBuilder builder(kSetupPackageKey);
  for (const auto& [name, bytes] : members) {
    zel::TMemoryStream source(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    builder.AddFile(source, name);
  }
  zel::TMemoryStream out;
  builder.Commit(out, 0);
  return out.Bytes();
}

inline std::unique_ptr<TSetupPackageReader> Package(const TMembers& members) {
  zel::TMemoryStream stream(PackageBytes(members));
  return std::make_unique<TSetupPackageReader>(stream);
}

// A 16 × 16, 32-bit icon file of one colour (BGRA).
inline std::string IconFile(uint32_t bgra) {
  const int size = 16;
  std::string bytes;
  auto put16 = [&](uint16_t v) { bytes.append(reinterpret_cast<const char*>(&v), 2); };
  auto put32 = [&](uint32_t v) { bytes.append(reinterpret_cast<const char*>(&v), 4); };
  const uint32_t imageSize = 40 + size * size * 4 + size * 4;  // header, pixels, AND mask rows of 4 bytes
  put16(0);
  put16(1);
  put16(1);  // ICONDIR
  bytes += char(size);
  bytes += char(size);
  bytes += char(0);
  bytes += char(0);
  put16(1);
  put16(32);
  put32(imageSize);
  put32(6 + 16);  // ICONDIRENTRY
  put32(40);
  put32(size);
  put32(size * 2);
  put16(1);
  put16(32);  // BITMAPINFOHEADER
  put32(0);
  put32(0);
  put32(0);
  put32(0);
  put32(0);
  put32(0);
  for (int i = 0; i < size * size; ++i) put32(bgra);
  bytes.append(size * 4, '\0');
  return bytes;
}

inline std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// A language file (ANSI INI text) with a [File] header and extra lines.
inline std::string LanguageFile(const std::string& name, int langId, const std::string& family,
                                const std::string& more = {}, const std::string& icon = IconFile(0xFF2060C0)) {
  std::string text = "[File]\r\nName=" + name + "\r\nLangId=" + std::to_string(langId) + "\r\n";
  if (!family.empty()) text += "Family=" + family + "\r\n";
  if (!icon.empty()) text += "Icon=" + Hex(icon) + "\r\n";
  return text + more;
}

// A product whose installed state is fixed.
class TTestProductInfo : public TInstallerProductInfo {
public:
  int32_t InstalledVersion = 0;
  bool CanUpdate() override { return true; }
  bool IsPortable() override { return false; }
  int32_t GetInstalledVersion() override { return InstalledVersion; }
  void LoadInstalledConfig() override {}
  void PopulateActions(const TActionReceiver&) override {}
  void PopulatePages(const TPageReceiver&) override {}
};

constexpr const char* kScript = R"(<installer>
  <setup><license>
    <File name="License_DE.rtf" lang-family="DE"/><File name="License_EN.rtf" lang-family="EN"/>
  </license></setup>
  <product><Settings>
    <S name="ProductName" value="KIVO"/><S name="HomePage" value="https://kivo.example/"/>
    <S name="ProductVersion" value="5.10"/><S name="BuildDate" value="2023-01-01"/>
  </Settings></product>
</installer>)";

inline std::unique_ptr<TInstallerResources> Resources(TInstallerProductInfo* info, const TMembers& setup,
                                                      const TMembers& product = {}) {
  return std::make_unique<TInstallerResources>(info, Package(setup), Package(product));
}

}  // namespace kivo::test
