#include <gtest/gtest.h>
#include <windows.h>

#include "ResourcesFixture.h"
#include "library/win/Handles.h"
#include "ui/LanguageDialog.h"

using namespace zel;
using namespace kivo;
using namespace kivo::test;

namespace {

// A dialog over language files given as INI texts, with an injected interface language.
class TFakeLanguageDialog : public TZELCustomLanguageDialog {
public:
  TFakeLanguageDialog(unsigned uiLanguage, std::vector<std::string> files)
      : TZELCustomLanguageDialog(uiLanguage), FFiles(std::move(files)) {
    Fill();
  }
  void EnumLangs(TZELIniFile& ini, const TLanguageCallback& callback) override {
    for (size_t i = 0; i < FFiles.size(); ++i) {
      ini.LoadFromText(FromUtf8(FFiles[i]));
      callback(static_cast<int>(i));
    }
  }

private:
  std::vector<std::string> FFiles;
};

std::vector<String> Names(const TZELCustomLanguageDialog& dialog) {
  std::vector<String> names;
  for (const auto& item : dialog.Items()) names.push_back(item.Text);
  return names;
}

}  // namespace

TEST(LanguageDialog, PreselectsTheInterfaceLanguageThenEnglishThenTheFirst) {
  const std::string english = LanguageFile("English", 1033, "EN");
  const std::string german = LanguageFile("Deutsch", 1031, "DE");
  const std::string russian = LanguageFile("\xD0\xA0\xD1\x83\xD1\x81\xD1\x81\xD0\xBA\xD0\xB8\xD0\xB9", 1049, "RU");
  struct Case {
    unsigned ui;
    std::vector<std::string> files;
    int selected;
  };
  const Case cases[] = {
      {1031, {english, german}, 1},  // German interface: German
      {1036, {english, german}, 0},  // French interface: English
      {1036, {russian, german}, 1},  // no 1033: the first by name (Deutsch)
      {1049, {english, german, russian}, 2},
      {1033, {german, english, english}, 1},  // the first item in list order that matches
      {1033, {}, -1},                         // no language files at all
      {3079, {english, german}, 1},           // German (Austria): German, not English
      {2055, {russian, english, german}, 2},  // German (Switzerland)
      {2057, {german, english}, 1},           // English (United Kingdom)
      {1045, {english, german}, 0},           // Polish: no file of its language, English
  };
  for (const Case& c : cases) {
    TFakeLanguageDialog dialog(c.ui, c.files);
    EXPECT_EQ(dialog.GetSelected(), c.selected) << c.ui << " with " << c.files.size() << " files";
  }
}

TEST(LanguageDialog, ItemsAreSortedByNameAndEqualNamesKeepTheirOrder) {
  TFakeLanguageDialog dialog(1033,
                             {LanguageFile("beta", 1, ""), LanguageFile("Alpha", 2, ""), LanguageFile("Beta", 3, ""),
                              LanguageFile("alpha", 4, ""), LanguageFile("Gamma", 5, "")});
  EXPECT_EQ(Names(dialog), (std::vector<String>{u"Alpha", u"alpha", u"beta", u"Beta", u"Gamma"}));
  std::vector<int> data;
  for (const auto& item : dialog.Items()) data.push_back(item.Data);
  EXPECT_EQ(data, (std::vector<int>{1, 3, 0, 2, 4}));
  EXPECT_EQ(dialog.GetSelected(), 1);  // nothing matches 1033: the first item, file 1
}

TEST(LanguageDialog, LanguagesWithBrokenIconsAreListedWithoutAPicture) {
  const std::string icon = IconFile(0xFF00FF00);
  std::string badOffset = icon;
  badOffset[18] = '\x7F';  // the image's offset points past the end
  std::vector<std::string> all = {
      LanguageFile("A good one", 1, "", "", icon),
      LanguageFile("B no icon", 2, "", "", ""),
      "[File]\r\nName=C not hex\r\nIcon=ZZ\r\n",
      "[File]\r\nName=D odd digits\r\nIcon=000\r\n",
      LanguageFile("E not an icon", 5, "", "", "just some bytes here"),
      LanguageFile("F truncated", 6, "", "", icon.substr(0, 30)),
      LanguageFile("G bad offset", 7, "", "", badOffset),
      LanguageFile("H second good", 8, "", "", icon),
  };
  TFakeLanguageDialog dialog(1033, all);
  ASSERT_EQ(dialog.Items().size(), all.size());
  std::vector<int> images;
  for (const auto& item : dialog.Items()) images.push_back(item.ImageIndex);
  EXPECT_EQ(images, (std::vector<int>{0, -1, -1, -1, -1, -1, -1, 1}));
  EXPECT_EQ(::ImageList_GetImageCount(dialog.Images()), 2);

  // At 200 %: the same flags again, from the same files, twice the size.
  dialog.ScaleImages(32);
  images.clear();
  for (const auto& item : dialog.Items()) images.push_back(item.ImageIndex);
  EXPECT_EQ(images, (std::vector<int>{0, -1, -1, -1, -1, -1, -1, 1}));
  int width = 0, height = 0;
  ASSERT_TRUE(::ImageList_GetIconSize(dialog.Images(), &width, &height));
  EXPECT_EQ(width, 32);
  EXPECT_EQ(height, 32);
  EXPECT_EQ(dialog.IconSize(), 32);
}

TEST(LanguageDialog, IconFilesAreCheckedBeforeUse) {
  const std::string icon = IconFile(0xFF0000FF);
  auto create = [](const std::string& bytes) {
    return TIconHandle(CreateIconFromIconFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 16, 16));
  };
  EXPECT_TRUE(create(icon));
  std::string wrongType = icon;
  wrongType[2] = 2;  // a cursor file
  std::string noImages = icon;
  noImages[4] = 0;
  std::string tooMany = icon;
  tooMany[4] = 9;  // more entries than the file holds
  std::string hugeSize = icon;
  hugeSize[14] = '\xFF';
  hugeSize[15] = '\xFF';
  hugeSize[16] = '\xFF';
  hugeSize[17] = '\x7F';
  for (const std::string& bad : {std::string(), icon.substr(0, 5), icon.substr(0, 21), icon.substr(0, 100), wrongType,
                                 noImages, tooMany, hugeSize})
    EXPECT_FALSE(create(bad)) << bad.size();
  EXPECT_EQ(CreateIconFromIconFile(nullptr, 10, 16, 16), nullptr);
}

TEST(LanguageDialog, LayoutScalesTheDesignSizes) {
  const TLanguageDialogLayout at96 = LanguageDialogLayout(96);
  EXPECT_EQ(at96.Client.cx, 220);
  EXPECT_EQ(at96.Client.cy, 75);
  EXPECT_EQ(at96.Combo.left, 8);
  EXPECT_EQ(at96.Combo.top, 8);
  EXPECT_EQ(at96.Combo.right, 212);
  EXPECT_EQ(at96.Button.left, 60);
  EXPECT_EQ(at96.Button.right, 160);
  EXPECT_EQ(at96.Button.bottom, 67);
  const TLanguageDialogLayout at144 = LanguageDialogLayout(144);
  EXPECT_EQ(at144.Client.cx, 330);
  EXPECT_EQ(at144.Client.cy, 113);  // 112.5 rounds up
  EXPECT_EQ(at144.Button.left, 90);
  EXPECT_EQ(at144.Button.bottom, 113 - 12);
}

TEST(LanguageDialog, InstallerDialogOffersTheSetupPackagesFiles) {
  TTestProductInfo info;
  auto resources = Resources(&info, {{u"Install.xml", kScript},
                                     {u"English.lng", LanguageFile("English", 1033, "")},
                                     {u"German.lng", LanguageFile("Deutsch", 1031, "DE")}});
  struct Case {
    unsigned ui;
    const char16_t* chosen;
  };
  for (const Case& c : {Case{1031, u"German.lng"}, Case{1036, u"English.lng"}}) {
    TInstallerLanguageDialog dialog(*resources, c.ui);
    EXPECT_EQ(Names(dialog), (std::vector<String>{u"Deutsch", u"English"}));
    EXPECT_EQ(dialog.Execute(false), c.chosen);
  }
  // The uninstaller's preselection: the file the installation names wins over the
  // interface language; a name the package does not have changes nothing.
  struct Preferred {
    const char16_t* file;
    const char16_t* chosen;
  };
  for (const Preferred& p : {Preferred{u"German.lng", u"German.lng"}, Preferred{u"german.LNG", u"German.lng"},
                             Preferred{u"Langs\\German.lng", u"German.lng"}, Preferred{u"Klingon.lng", u"English.lng"},
                             Preferred{u"", u"English.lng"}}) {
    TInstallerLanguageDialog dialog(*resources, 1033);
    dialog.PreferFile(p.file);
    EXPECT_EQ(dialog.Execute(false), p.chosen) << ToUtf8(p.file);
  }
  auto none = Resources(&info, {{u"Install.xml", kScript}});
  TInstallerLanguageDialog empty(*none, 1033);
  EXPECT_EQ(empty.GetSelected(), -1);
  EXPECT_EQ(empty.Execute(false), u"English.lng");
}

TEST(LanguageDialog, TheWindowShowsTheListAndKeepsTheUsersChoice) {
  TFakeLanguageDialog dialog(1033, {LanguageFile("English", 1033, ""), LanguageFile("Deutsch", 1031, "", "", ""),
                                    LanguageFile("Russian", 1049, "")});
  ASSERT_EQ(dialog.GetSelected(), 0);  // English, the second item
  bool shown = false;
  dialog.ShowModal(nullptr, [&](HWND window) {
    shown = true;
    wchar_t caption[64] = {};
    ::GetWindowTextW(window, caption, 64);
    EXPECT_STREQ(caption, L"Select Language");
    EXPECT_TRUE(::GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    const LONG_PTR style = ::GetWindowLongPtrW(window, GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
    const TLanguageDialogLayout layout = LanguageDialogLayout(::GetDpiForWindow(window));
    RECT client{};
    ::GetClientRect(window, &client);
    EXPECT_EQ(client.right, layout.Client.cx);
    EXPECT_EQ(client.bottom, layout.Client.cy);
    HWND combo = ::GetDlgItem(window, TZELCustomLanguageDialog::ComboId);
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(::SendMessageW(combo, CB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(::SendMessageW(combo, CB_GETCURSEL, 0, 0), 1);
    wchar_t text[32] = {};
    ::GetWindowTextW(::GetDlgItem(window, IDOK), text, 32);
    EXPECT_STREQ(text, L"OK");
    // The user picks Russian and presses OK.
    ::SendMessageW(combo, CB_SETCURSEL, 2, 0);
    ::PostMessageW(window, WM_COMMAND, IDOK, 0);
  });
  EXPECT_TRUE(shown);
  EXPECT_EQ(dialog.ItemIndex(), 2);
  EXPECT_EQ(dialog.GetSelected(), 2);
}

TEST(LanguageDialog, EscapeAndTheCloseBoxQuitWithoutAChoice) {
  // OK keeps the choice; IDCANCEL is what the dialog manager sends for Esc and for the
  // close box: the setup quits.
  struct Case {
    const char* what;
    UINT message;
    WPARAM wParam;
    bool ok;
    int selected;
  };
  const Case cases[] = {
      {"OK", WM_COMMAND, IDOK, true, 2},
      {"Escape", WM_COMMAND, IDCANCEL, false, 1},
      {"the close box", WM_SYSCOMMAND, SC_CLOSE, false, 1},
  };
  for (const Case& c : cases) {
    TFakeLanguageDialog dialog(1033, {LanguageFile("English", 1033, ""), LanguageFile("Deutsch", 1031, ""),
                                      LanguageFile("Russian", 1049, "")});
    const bool ok = dialog.ShowModal(nullptr, [&](HWND window) {
      ::SendMessageW(::GetDlgItem(window, TZELCustomLanguageDialog::ComboId), CB_SETCURSEL, 2, 0);
      ::PostMessageW(window, c.message, c.wParam, 0);
    });
    EXPECT_EQ(ok, c.ok) << c.what;
    EXPECT_EQ(dialog.ItemIndex(), c.selected) << c.what << ": a quit keeps the preselection";
  }
}
