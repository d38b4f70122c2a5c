#include "package/win/InstallerImage.h"

#include <shlwapi.h>

#include "package/InstallerErrors.h"
#include "library/win/GdiPlus.h"

namespace kivo {

using namespace zel;

detail::TImageStreamHolder::~TImageStreamHolder() {
  if (FStream) FStream->Release();
}

namespace {
struct TStreamRelease {
  void operator()(IStream* stream) const noexcept { stream->Release(); }
};
}  // namespace

std::unique_ptr<TInstallerImage> TInstallerImage::FromBytes(const uint8_t* data, size_t size, StringView name) {
  EnsureGdiPlus();
  const String failure = Format(u"Cannot load image \"%s\"", name);
  if (size > UINT_MAX) throw EInstallerInstallError(failure);
  // SHCreateMemStream keeps its own copy of the bytes.
  std::unique_ptr<IStream, TStreamRelease> stream(::SHCreateMemStream(data, static_cast<UINT>(size)));
  if (!stream) throw EInstallerInstallError(failure);
  std::unique_ptr<TInstallerImage> image(new TInstallerImage(stream.get()));
  stream.release();  // the image owns it now
  if (image->GetLastStatus() != Gdiplus::Ok || image->GetWidth() == 0 || image->GetHeight() == 0)
    throw EInstallerInstallError(failure);
  return image;
}

}  // namespace kivo
