#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "TestSupport.h"
#include "library/Streams.h"
#include "library/win/Handles.h"
#include "package/SetupPackage.h"

using namespace zel;
using namespace kivo;

namespace {

std::vector<uint8_t> SmallPackage(size_t extra = 0) {
  TSetupPackageBuilder builder(kSetupPackageKey);
  TMemoryStream xml(kivo::test::Bytes("<Setup/>"));
  builder.AddFile(xml, u"Install.xml");
  if (extra > 0) {
    // Noise: the coded bytes span many of the reader's blocks.
    std::vector<uint8_t> noise(extra);
    uint32_t x = 12345;
    for (uint8_t& b : noise) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 16);
    TMemoryStream data(std::move(noise));
    builder.AddFile(data, u"noise.bin");
  }
  TMemoryStream out;
  builder.Commit(out, 4);
  return out.Bytes();
}

bool AddResource(HANDLE update, const wchar_t* name, std::vector<uint8_t> bytes) {
  return ::UpdateResourceW(update, RT_RCDATA, name, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), bytes.data(),
                           static_cast<DWORD>(bytes.size()));
}

}  // namespace

TEST(SetupPackageResource, OpensRcDataResourcesOfAModule) {
  // A copy of this program with packages added as resources, loaded as a data file, is a
  // module with RT_RCDATA resources just like Setup.exe.
  wchar_t self[MAX_PATH];
  ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  const String path = kivo::test::ScratchDir(u"SetupPackageResource") + u"\\module.exe";
  ASSERT_TRUE(::CopyFileW(self, as_wcstr(path), FALSE));
  HANDLE update = ::BeginUpdateResourceW(as_wcstr(path), FALSE);
  ASSERT_NE(update, nullptr);
  std::vector<uint8_t> broken = SmallPackage();
  broken[broken.size() / 2] ^= 0x10;
  ASSERT_TRUE(AddResource(update, L"SETUP", SmallPackage()));
  ASSERT_TRUE(AddResource(update, L"BROKEN", broken));
  ASSERT_TRUE(::EndUpdateResourceW(update, FALSE));

  TModuleHandle module(::LoadLibraryExW(as_wcstr(path), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  ASSERT_TRUE(module);
  TSetupPackageReader reader(module.Get(), u"SETUP");
  EXPECT_EQ(reader.ExtractFile(u"install.xml")->Bytes(), kivo::test::Bytes("<Setup/>"));

  try {
    TSetupPackageReader missing(module.Get(), u"PRODUCT");
    ADD_FAILURE() << "a missing resource opened";
  } catch (const EFOpenError& e) {
    EXPECT_STREQ(e.what(), "Resource PRODUCT not found");
  }
  EXPECT_THROW(TSetupPackageReader(module.Get(), u"BROKEN"), ESetupPackageReadError);
}

TEST(SetupPackageResource, AProgramsResourcesAreReadFromItsFile) {
  wchar_t self[MAX_PATH];
  ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  const String path = kivo::test::ScratchDir(u"SetupPackageResourceFile") + u"\\module.exe";
  ASSERT_TRUE(::CopyFileW(self, as_wcstr(path), FALSE));
  HANDLE update = ::BeginUpdateResourceW(as_wcstr(path), FALSE);
  ASSERT_NE(update, nullptr);
  const std::vector<uint8_t> small = SmallPackage(), large = SmallPackage(300000);
  ASSERT_TRUE(AddResource(update, L"SETUP", small));
  ASSERT_TRUE(AddResource(update, L"PRODUCT", large));
  ASSERT_TRUE(::EndUpdateResourceW(update, FALSE));

  // Mapped as an image, as the loader maps a program: the section headers place each
  // resource in the file, and the file holds the mapped bytes there.
  TModuleHandle image(::LoadLibraryExW(as_wcstr(path), nullptr, DONT_RESOLVE_DLL_REFERENCES));
  ASSERT_TRUE(image);
  const std::vector<uint8_t> onDisk = kivo::test::ReadAll(path);
  for (const auto& [name, bytes] : {std::pair{L"SETUP", small}, std::pair{L"PRODUCT", large}}) {
    HRSRC info = ::FindResourceW(image.Get(), name, RT_RCDATA);
    ASSERT_NE(info, nullptr);
    const void* data = ::LockResource(::LoadResource(image.Get(), info));
    const size_t size = ::SizeofResource(image.Get(), info);
    ASSERT_EQ(size, bytes.size());
    const int64_t offset = TSetupPackageReader::ResourceFileOffset(image.Get(), data, size);
    ASSERT_GT(offset, 0);
    ASSERT_LE(offset + int64_t(size), int64_t(onDisk.size()));
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), onDisk.begin() + offset));
  }
  TSetupPackageReader setup(image.Get(), u"SETUP");
  EXPECT_EQ(setup.ExtractFile(u"Install.xml")->Bytes(), kivo::test::Bytes("<Setup/>"));
  TSetupPackageReader product(image.Get(), u"PRODUCT");
  EXPECT_EQ(product.ExtractFile(u"noise.bin")->Size(), 300000);

  // A data-file mapping has no section layout to go by: it is read as mapped. (Loaded
  // as a data file while mapped as an image, a module would come back as the image.)
  image.Reset();
  TModuleHandle flat(::LoadLibraryExW(as_wcstr(path), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(flat);
  HRSRC info = ::FindResourceW(flat.Get(), L"SETUP", RT_RCDATA);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(TSetupPackageReader::ResourceFileOffset(flat.Get(), ::LockResource(::LoadResource(flat.Get(), info)),
                                                   ::SizeofResource(flat.Get(), info)),
            0);
  TSetupPackageReader fromMapping(flat.Get(), u"SETUP");
  EXPECT_EQ(fromMapping.ExtractFile(u"Install.xml")->Bytes(), kivo::test::Bytes("<Setup/>"));
}
