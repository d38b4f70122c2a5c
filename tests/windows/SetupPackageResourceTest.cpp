#include <windows.h>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "library/Streams.h"
#include "library/win/Handles.h"
#include "package/SetupPackage.h"

using namespace zel;
using namespace kivo;

namespace {

std::vector<uint8_t> SmallPackage() {
  TSetupPackageBuilder builder(kSetupPackageKey);
  TMemoryStream xml(kivo::test::Bytes("<Setup/>"));
  builder.AddFile(xml, u"Install.xml");
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
