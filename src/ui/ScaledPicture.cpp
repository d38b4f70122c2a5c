#include "ui/ScaledPicture.h"

#include <objidl.h>
#include <gdiplus.h>

#include "package/InstallerErrors.h"
#include "package/win/InstallerResources.h"
#include "ui/WizardLayout.h"

namespace kivo {

TScaledPicture::TScaledPicture(TInstallerResources& resources, zel::StringView name) {
  for (int percent : kPictureScales) {
    std::unique_ptr<Gdiplus::Image> image;
    try {
      image = resources.GetImage(PictureNameAt(name, percent));
    } catch (const EInstallerInstallError&) {
      // Not in the package (or not a picture): the other scales serve.
      continue;
    }
    if (FVariants.empty()) {
      FDesignWidth = zel::MulDivRound(static_cast<int>(image->GetWidth()), 100, percent);
      FDesignHeight = zel::MulDivRound(static_cast<int>(image->GetHeight()), 100, percent);
    }
    FVariants.push_back({percent, std::move(image)});
  }
}

TScaledPicture::~TScaledPicture() = default;
TScaledPicture::TScaledPicture(TScaledPicture&&) noexcept = default;
TScaledPicture& TScaledPicture::operator=(TScaledPicture&&) noexcept = default;

Gdiplus::Image* TScaledPicture::For(const zel::TScale& scale) const {
  std::vector<int> available;
  for (const TVariant& variant : FVariants) available.push_back(variant.Percent);
  const int chosen = PictureScaleFor(scale, available);
  for (const TVariant& variant : FVariants)
    if (variant.Percent == chosen) return variant.Image.get();
  return nullptr;
}

}  // namespace kivo
