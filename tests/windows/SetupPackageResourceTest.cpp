#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "TestSupport.h"
#include "library/Streams.h"
#include "library/win/Handles.h"
#include "package/SetupPackage.h"
#include "package/win/PayloadFile.h"

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

std::vector<uint8_t> Noise(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
  return bytes;
}

// The names in folder (no "." or "..").
std::vector<String> Entries(const String& folder) {
  std::vector<String> names;
  WIN32_FIND_DATAW data;
  const HANDLE find = ::FindFirstFileW(as_wcstr(folder + u"\\*"), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const String name = from_wcstr(data.cFileName);
    if (name != u"." && name != u"..") names.push_back(name);
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  return names;
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

  TModuleHandle module(
      ::LoadLibraryExW(as_wcstr(path), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
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

TEST(PayloadFile, MembersReadThroughViewsAcrossWindowsAndTheFileGoesWithTheReader) {
  // 64 KiB windows: members that end exactly at a window's end, cross one, span several,
  // and are empty, in table order as extraction asks for them.
  const size_t window = 64 * 1024;
  const std::vector<std::pair<String, std::vector<uint8_t>>> members = {
      {u"head.bin", Noise(window - 10, 1)},
      {u"edge.bin", Noise(10, 2)},
      {u"empty", {}},
      {u"cross.bin", Noise(300, 3)},
      {u"inside.bin", Noise(1000, 4)},
      {u"span.bin", Noise(3 * window + 7, 5)},
      {u"tail.txt", kivo::test::Bytes("the last member")}};
  TSetupPackageBuilder builder(kSetupPackageKey);
  for (const auto& [name, bytes] : members) {
    TMemoryStream source(bytes);
    builder.AddFile(source, name);
  }
  TMemoryStream package;
  builder.Commit(package, 1);

  const String parent = kivo::test::ScratchDir(u"PayloadFile.Views");
  auto store = std::make_unique<TPayloadFile>(parent, window);
  const String file = store->FileName();
  package.SetPosition(0);
  auto reader = std::make_unique<TSetupPackageReader>(package, std::move(store));
  EXPECT_TRUE(reader->Payload().Bytes().empty());  // nothing of it in memory
  ASSERT_EQ(Entries(parent).size(), 1u);
  EXPECT_TRUE(StartsWithText(Entries(parent)[0], u"KIVO Setup "));
  EXPECT_NE(::GetFileAttributesW(as_wcstr(file)), INVALID_FILE_ATTRIBUTES);

  std::vector<TSetupPackageMemberView> held;
  for (const auto& [name, bytes] : members) {
    TSetupPackageMemberView view;
    ASSERT_TRUE(reader->FileView(name, view)) << ToUtf8(name);
    ASSERT_EQ(view.Size, bytes.size()) << ToUtf8(name);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), view.Data)) << ToUtf8(name);
    held.push_back(std::move(view));
  }
  // Every view stays readable while it is held, also after later ones were mapped.
  for (size_t i = 0; i < members.size(); ++i)
    EXPECT_TRUE(std::equal(members[i].second.begin(), members[i].second.end(), held[i].Data)) << i;
  EXPECT_EQ(reader->ExtractFile(u"SPAN.bin")->Bytes(), members[5].second);
  held.clear();

  // Closed: the file and its folder are gone.
  reader.reset();
  EXPECT_EQ(::GetFileAttributesW(as_wcstr(file)), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(Entries(parent).empty());
}

TEST(PayloadFile, DamageAndAFullDiskFailBeforeAnyMemberAndLeaveNothing) {
  const String parent = kivo::test::ScratchDir(u"PayloadFile.Damage");
  std::vector<uint8_t> broken = SmallPackage(200000);
  broken[broken.size() / 2] ^= 0x10;
  TMemoryStream stream(broken);
  EXPECT_THROW(TSetupPackageReader(stream, std::make_unique<TPayloadFile>(parent)), ESetupPackageReadError);
  EXPECT_TRUE(Entries(parent).empty());

  // More than the volume holds: refused before a byte is written, in words that name
  // the disk and both sizes.
  try {
    TPayloadFile store(parent);
    store.Begin(uint64_t(1) << 60);
    ADD_FAILURE() << "a payload larger than the disk was accepted";
  } catch (const EPayloadRoomError& e) {
    EXPECT_EQ(e.Needed, uint64_t(1) << 60);
    EXPECT_LT(e.Free, e.Needed);
    EXPECT_FALSE(e.Volume.empty());
    EXPECT_NE(std::string(e.what()).find("There is not enough room on the disk " + ToUtf8(e.Volume)), std::string::npos)
        << e.what();
  }
  EXPECT_TRUE(Entries(parent).empty());
}
