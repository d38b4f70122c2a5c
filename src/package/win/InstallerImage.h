#pragma once
// The pictures of the setup package (header, wizard backgrounds) as GDI+ bitmaps.
#include <windows.h>
// WIN32_LEAN_AND_MEAN leaves out the COM declarations that gdiplus.h uses.
#include <objidl.h>
#include <gdiplus.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "library/Strings.h"

namespace kivo {

namespace detail {
// Owns the IStream the bitmap decodes from. GDI+ reads a stream-loaded image lazily
// and needs its stream for the image's whole life, so this base is constructed before
// the bitmap and destroyed after it.
class TImageStreamHolder {
protected:
  explicit TImageStreamHolder(IStream* stream) noexcept : FStream(stream) {}
  ~TImageStreamHolder();
  TImageStreamHolder(const TImageStreamHolder&) = delete;
  TImageStreamHolder& operator=(const TImageStreamHolder&) = delete;
  IStream* FStream;
};
}  // namespace detail

class TInstallerImage : private detail::TImageStreamHolder, public Gdiplus::Bitmap {
public:
  // Decodes an image file (PNG, BMP, ...) held in memory. Starts GDI+ when needed.
  // Raises EInstallerInstallError "Cannot load image "name"" when GDI+ cannot read it.
  static std::unique_ptr<TInstallerImage> FromBytes(const uint8_t* data, size_t size, zel::StringView name);

  // The pictures are laid out for half-pixel offsets. A pixel offset mode belongs to
  // the Graphics that draws, not to the image, so the image carries it and hands it on.
  Gdiplus::PixelOffsetMode PixelOffsetMode() const { return FPixelOffsetMode; }
  void SetPixelOffsetMode(Gdiplus::PixelOffsetMode mode) { FPixelOffsetMode = mode; }
  // Prepares graphics for drawing this image.
  void ApplyTo(Gdiplus::Graphics& graphics) const { graphics.SetPixelOffsetMode(FPixelOffsetMode); }

private:
  explicit TInstallerImage(IStream* stream) : TImageStreamHolder(stream), Gdiplus::Bitmap(stream) {}

  Gdiplus::PixelOffsetMode FPixelOffsetMode = Gdiplus::PixelOffsetModeHalf;
};

}  // namespace kivo
