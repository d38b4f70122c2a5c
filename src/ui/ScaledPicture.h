#pragma once
// A picture of the setup package at the scales it comes in, drawn at the one that suits
// the window's scale: a picture made for 100 % looks soft when enlarged to 200 %.
#include <memory>
#include <vector>

#include "library/Strings.h"
#include "ui/toolkit/Scaling.h"

namespace Gdiplus {
class Image;
}

namespace kivo {

class TInstallerResources;

class TScaledPicture {
public:
  // Loads "name" and whichever of its larger variants the package holds; an empty
  // picture when the package holds none of them.
  TScaledPicture(TInstallerResources& resources, zel::StringView name);
  ~TScaledPicture();
  TScaledPicture(TScaledPicture&&) noexcept;
  TScaledPicture& operator=(TScaledPicture&&) noexcept;

  explicit operator bool() const { return !FVariants.empty(); }
  // The variant for the scale; null for an empty picture.
  Gdiplus::Image* For(const zel::TScale& scale) const;
  // The size at 100 % in design units, whichever variant is drawn.
  int DesignWidth() const { return FDesignWidth; }
  int DesignHeight() const { return FDesignHeight; }

private:
  struct TVariant {
    int Percent;
    std::unique_ptr<Gdiplus::Image> Image;
  };
  std::vector<TVariant> FVariants;
  int FDesignWidth = 0;
  int FDesignHeight = 0;
};

}  // namespace kivo
