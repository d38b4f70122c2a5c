// Opens arbitrary bytes as a setup package, lists and extracts every member. Damage
// must end in the package's own exceptions: no crash, no hang, no absurd allocation.
#include <cstddef>
#include <cstdint>

#include "library/Exceptions.h"
#include "library/Streams.h"
#include "package/SetupPackage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    zel::TReadOnlyMemoryStream stream(data, size);
    kivo::TSetupPackageReader reader(stream);
    const auto& table = reader.FileTable();
    for (int i = 0; i < table.Count(); ++i) {
      const auto& item = table.Items(i);
      if (!reader.ContainsFile(item.Name)) __builtin_trap();  // every listed name is found
      try {
        const auto member = reader.ExtractFile(item.Name);
        if (!member || member->Position() != 0) __builtin_trap();
        // The view is the same bytes as the copy, in place.
        kivo::TSetupPackageMemberView view;
        if (!reader.FileView(item.Name, view) || view.Size != member->Bytes().size()) __builtin_trap();
        for (size_t n = 0; n < view.Size; ++n)
          if (view.Data[n] != member->Memory()[n]) __builtin_trap();
      } catch (const kivo::ESetupPackageReadError&) {
        // An entry outside the payload: refused, the others still served.
      }
    }
  } catch (const zel::Exception&) {
    // Damaged input ends here.
  }
  return 0;
}
