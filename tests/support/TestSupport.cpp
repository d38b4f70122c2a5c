#include "TestSupport.h"

#include <filesystem>
#include <fstream>

namespace kivo::test {

namespace fs = std::filesystem;

namespace {
fs::path ToPath(zel::StringView p) {
#ifdef _WIN32
  return fs::path(std::wstring(p.begin(), p.end()));
#else
  return fs::path(zel::ToUtf8(p));
#endif
}
zel::String FromPath(const fs::path& p) {
#ifdef _WIN32
  const std::wstring w = p.wstring();
  return zel::String(w.begin(), w.end());
#else
  return zel::FromUtf8(p.string());
#endif
}
}  // namespace

zel::String DataPath(zel::StringView name) {
#ifdef _WIN32
  return zel::String(KIVO_TEST_DATA_DIR) + u"\\" + zel::ReplaceAll(name, u"/", u"\\");
#else
  return zel::String(KIVO_TEST_DATA_DIR) + u"/" + zel::String(name);
#endif
}

zel::String ScratchDir(zel::StringView name) {
  const fs::path dir = fs::temp_directory_path() / "kivo-tests" / ToPath(name);
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir);
  return FromPath(dir);
}

std::vector<uint8_t> ReadAll(zel::StringView path) {
  std::ifstream in(ToPath(path), std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(zel::StringView path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(ToPath(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> Bytes(std::string_view text) { return std::vector<uint8_t>(text.begin(), text.end()); }

}  // namespace kivo::test
