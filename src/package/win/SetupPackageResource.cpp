// The resource constructor of the package reader: Windows only.
#include <windows.h>

#include "library/win/FileSystem.h"
#include "library/win/Handles.h"
#include "package/SetupPackage.h"

namespace kivo {

using namespace zel;

namespace {}  // namespace

int64_t TSetupPackageReader::ResourceFileOffset(TModuleInstance instance, const void* data, size_t size) {
  // A module loaded as a data file has a low bit set in its handle and no file name to
  // be had: it keeps to its mapping.
  if (reinterpret_cast<uintptr_t>(instance) & 3) return 0;
  const auto* base = static_cast<const uint8_t*>(instance);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return 0;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return 0;
  const uint64_t rva = static_cast<const uint8_t*>(data) - base;
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    const uint64_t start = section->VirtualAddress;
    if (rva < start || rva + size > start + section->SizeOfRawData) continue;
    return section->PointerToRawData ? int64_t(section->PointerToRawData + (rva - start)) : 0;
  }
  return 0;
}

TSetupPackageReader::TSetupPackageReader(TModuleInstance instance, StringView resourceName,
                                         std::unique_ptr<TSetupPackageStore> store) {
  FStore = std::move(store);
  const auto module = static_cast<HMODULE>(instance);
  const String name(resourceName);
  // Resources need no release: LoadResource only maps what the loader already holds.
  HRSRC info = ::FindResourceW(module, as_wcstr(name), RT_RCDATA);
  if (!info) throw EFOpenError(Format(u"Resource %s not found", name));
  HGLOBAL loaded = ::LoadResource(module, info);
  const void* data = loaded ? ::LockResource(loaded) : nullptr;
  if (!data) throw EOSError(::GetLastError(), Format(u" (resource %s)", name));
  const size_t size = ::SizeofResource(module, info);

  // The coded bytes are read from the module's file in blocks rather than through the
  // mapping: every page of the mapping that the decoder touched would stay in the
  // working set for the rest of the run beside the decoded payload (the product's
  // package is most of the executable), while file reads leave nothing behind. The
  // mapping stays the fallback; the checksum catches a file that differs from it.
  if (const int64_t offset = ResourceFileOffset(module, data, size); offset > 0) {
    std::unique_ptr<TFileStream> file;
    try {
      file = std::make_unique<TFileStream>(ModuleFileName(module), FileMode::OpenRead,
                                           platform::ShareRead | platform::ShareWrite);
    } catch (const Exception&) {
      // Not opened, or not named: the mapping below serves.
    }
    if (file && offset + int64_t(size) <= file->Size()) {
      TSubStream stream(*file, offset, static_cast<int64_t>(size));
      Open(stream);
      return;
    }
  }
  TReadOnlyMemoryStream stream(data, size);
  Open(stream);
}

}  // namespace kivo
