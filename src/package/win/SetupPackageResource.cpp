// The resource constructor of the package reader: Windows only.
#include <windows.h>

#include "library/win/Handles.h"
#include "package/SetupPackage.h"

namespace kivo {

using namespace zel;

TSetupPackageReader::TSetupPackageReader(TModuleInstance instance, StringView resourceName) {
  const auto module = static_cast<HMODULE>(instance);
  const String name(resourceName);
  // Resources need no release: LoadResource only maps what the loader already holds.
  HRSRC info = ::FindResourceW(module, as_wcstr(name), RT_RCDATA);
  if (!info) throw EFOpenError(Format(u"Resource %s not found", name));
  HGLOBAL loaded = ::LoadResource(module, info);
  const void* data = loaded ? ::LockResource(loaded) : nullptr;
  if (!data) throw EOSError(::GetLastError(), Format(u" (resource %s)", name));
  TReadOnlyMemoryStream stream(data, ::SizeofResource(module, info));
  Open(stream);
}

}  // namespace kivo
