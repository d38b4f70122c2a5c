// Prints what Windows shows of a program: the strings of its version resource (U.S.
// English, Unicode) and its icon, as "name=value" lines in UTF-8:
//   CompanyName=… FileDescription=… FileVersion=… ProductName=… ProductVersion=…
//   FixedVersion=a.b.c.d    (the binary file version)
//   Icon=<images> <FNV-1a 64 of the images' bytes, in the group's order, hex>
// The end-to-end tests compare them with the vendor's Install.xml and icon file.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

void Print(const char* name, const std::wstring& value) {
  std::string bytes(value.size() * 4 + 1, '\0');
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, value.c_str(), static_cast<int>(value.size()), bytes.data(),
                                      static_cast<int>(bytes.size()), nullptr, nullptr);
  std::printf("%s=%s\n", name, bytes.substr(0, n > 0 ? n : 0).c_str());
}

#pragma pack(push, 2)
struct TGroupEntry {
  BYTE Width, Height, Colors, Reserved;
  WORD Planes, BitCount;
  DWORD Size;
  WORD Id;
};
#pragma pack(pop)

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(argv[1], &ignored);
  if (size) {
    std::vector<BYTE> info(size);
    if (::GetFileVersionInfoW(argv[1], 0, size, info.data())) {
      for (const wchar_t* name :
           {L"CompanyName", L"FileDescription", L"FileVersion", L"ProductName", L"ProductVersion"}) {
        wchar_t* value = nullptr;
        UINT length = 0;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        if (::VerQueryValueW(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) && value)
          Print(std::string(name, name + wcslen(name)).c_str(), std::wstring(value, length ? length - 1 : 0));
      }
      VS_FIXEDFILEINFO* fixed = nullptr;
      UINT length = 0;
      if (::VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed)
        std::printf("FixedVersion=%lu.%lu.%lu.%lu\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                    HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
    }
  }
  HMODULE module = ::LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) return 1;
  HRSRC group = ::FindResourceW(module, MAKEINTRESOURCEW(1), RT_GROUP_ICON);
  if (group) {
    const BYTE* data = static_cast<const BYTE*>(::LockResource(::LoadResource(module, group)));
    const WORD count = data ? reinterpret_cast<const WORD*>(data)[2] : 0;
    const auto* entries = reinterpret_cast<const TGroupEntry*>(data + 6);
    uint64_t hash = 1469598103934665603ull;
    for (WORD i = 0; i < count; ++i) {
      HRSRC icon = ::FindResourceW(module, MAKEINTRESOURCEW(entries[i].Id), RT_ICON);
      if (!icon) return 1;
      const BYTE* bytes = static_cast<const BYTE*>(::LockResource(::LoadResource(module, icon)));
      for (DWORD k = 0; k < ::SizeofResource(module, icon); ++k) hash = (hash ^ bytes[k]) * 1099511628211ull;
    }
    std::printf("Icon=%u %016llx\n", count, static_cast<unsigned long long>(hash));
  }
  ::FreeLibrary(module);
  return 0;
}
