// The toolkit's window-side rules: the dark-mode setting as the system stores it, the
// alignment of controls in a container, labels fitted to their text, and the edit with
// its button.
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>

#include "ui/toolkit/Application.h"
#include "ui/toolkit/Button.h"
#include "ui/toolkit/Edit.h"
#include "ui/toolkit/Form.h"
#include "ui/toolkit/Label.h"
#include "ui/toolkit/Memo.h"
#include "ui/toolkit/Theme.h"

using namespace zel;

namespace {

constexpr wchar_t kPersonalize[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";

// Puts the user's value back after the test.
class TSavedThemeValue {
public:
  TSavedThemeValue() {
    DWORD value = 0, size = sizeof(value);
    if (::RegGetValueW(HKEY_CURRENT_USER, kPersonalize, L"AppsUseLightTheme", RRF_RT_REG_DWORD, nullptr, &value,
                       &size) == ERROR_SUCCESS)
      FValue = value;
  }
  ~TSavedThemeValue() {
    if (FValue) Set(*FValue);
    else Remove();
  }
  static void Set(DWORD value) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kPersonalize, L"AppsUseLightTheme", REG_DWORD, &value, sizeof(value));
  }
  static void SetText(const wchar_t* text) {
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kPersonalize, L"AppsUseLightTheme", REG_SZ, text,
                      static_cast<DWORD>((::lstrlenW(text) + 1) * sizeof(wchar_t)));
  }
  static void Remove() { ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kPersonalize, L"AppsUseLightTheme"); }

private:
  std::optional<DWORD> FValue;
};

// A control's rectangle in its parent's client coordinates.
TRect BoundsOf(HWND window) {
  RECT r{};
  ::GetWindowRect(window, &r);
  ::MapWindowPoints(nullptr, ::GetParent(window), reinterpret_cast<POINT*>(&r), 2);
  return FromRECT(r);
}

class Toolkit : public ::testing::Test {
protected:
  void SetUp() override { Application::Initialize(); }
};

}  // namespace

TEST_F(Toolkit, DarkModeFollowsAppsUseLightTheme) {
  TSavedThemeValue saved;
  struct TCase {
    const char* Name;
    std::optional<DWORD> Value;
    bool Dark;
  } cases[] = {{"0: dark", 0, true}, {"1: light", 1, false}, {"2: light", 2, false}, {"missing: light", {}, false}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    if (c.Value) TSavedThemeValue::Set(*c.Value);
    else TSavedThemeValue::Remove();
    EXPECT_EQ(ReadDarkModeSetting(), c.Dark);
  }
  TSavedThemeValue::SetText(L"0");  // not a number the system writes: light
  EXPECT_FALSE(ReadDarkModeSetting());

  // The flag changes only through RefreshDarkMode, and reports whether it did.
  TSavedThemeValue::Set(IsDarkMode() ? 1 : 0);
  const bool before = IsDarkMode();
  EXPECT_TRUE(RefreshDarkMode());
  EXPECT_NE(IsDarkMode(), before);
  EXPECT_FALSE(RefreshDarkMode());
  TSavedThemeValue::Set(before ? 0 : 1);
  EXPECT_TRUE(RefreshDarkMode());
  EXPECT_EQ(IsDarkMode(), before);
}

TEST_F(Toolkit, AlignedControlsStackAtTheBottomAroundTheClient) {
  TZELPanel panel;
  ASSERT_EQ(panel.Dpi(), 96u) << "the test prefix runs at 96 DPI";
  auto* memo = panel.Add<TZELMemo>();
  memo->SetAlign(TAlign::Client, {28, 22, 28, 4});
  auto* box = panel.Add<TZELCheckBox>();
  box->SetBounds(0, 0, 0, 16);
  box->SetAlign(TAlign::Bottom, {28, 4, 28, 22});
  auto* second = panel.Add<TZELCheckBox>();
  second->SetBounds(0, 0, 0, 20);
  second->SetAlign(TAlign::Bottom, {10, 0, 10, 0});
  auto* fixed = panel.Add<TZELButton>();
  fixed->SetBounds(5, 6, 70, 25);
  panel.SetBoundsPixels(TRect{0, 0, 640, 369});

  EXPECT_EQ(BoundsOf(box->Handle()), (TRect{28, 331, 612, 347}));
  EXPECT_EQ(BoundsOf(second->Handle()), (TRect{10, 307, 630, 327}));  // above the first, after its top margin
  EXPECT_EQ(BoundsOf(memo->Handle()), (TRect{28, 22, 612, 303}));
  EXPECT_EQ(BoundsOf(fixed->Handle()), (TRect{5, 6, 75, 31}));

  second->SetVisible(false);  // hidden controls take no room
  EXPECT_EQ(BoundsOf(memo->Handle()), (TRect{28, 22, 612, 323}));
}

TEST_F(Toolkit, WrappedLabelsAreOnlyAsHighAsTheirText) {
  TZELPanel panel;
  auto* label = panel.Add<TZELLabel>();
  label->SetWordWrap(true);
  label->SetBounds(10, 10, 200, 120);
  label->SetCaption(u"One line");
  const int oneLine = BoundsOf(label->Handle()).Height();
  EXPECT_GT(oneLine, 5);
  EXPECT_LT(oneLine, 40);
  label->SetCaption(u"Several words that cannot share one line of two hundred pixels, so that the text wraps "
                    u"onto a second and a third line");
  const int lines = BoundsOf(label->Handle()).Height();
  EXPECT_GE(lines, 2 * oneLine);
  EXPECT_LE(lines, 120);
  label->SetCaption(String(2000, u'w') + u" " + String(2000, u'w') + u" x x x x x x x x x x x x x x x x x x x x x");
  EXPECT_LE(BoundsOf(label->Handle()).Height(), 120);  // never beyond its bounds
  auto* plain = panel.Add<TZELLabel>();
  plain->SetBounds(10, 200, 200, 50);
  plain->SetCaption(u"Not wrapped");
  EXPECT_EQ(BoundsOf(plain->Handle()).Height(), 50);

  // A warning's text wraps beside its icon: a text that would just fit the label's whole
  // width takes two lines there, and the label is as high as both.
  TZELPanel notices;
  auto* warning = notices.Add<TZELWarningLabel>();
  warning->SetAlign(TAlign::Bottom, {0, 0, 0, 0});
  notices.SetBoundsPixels(TRect{0, 0, 300, 400});
  HDC dc = ::GetDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, GetFont(TFontStyle{9, true}, 96));
  const auto width = [&](const String& s) {
    SIZE size{};
    ::GetTextExtentPoint32W(dc, as_wcstr(s), static_cast<int>(s.size()), &size);
    return static_cast<int>(size.cx);
  };
  // Words, then a last one grown letter by letter: within a letter of the whole width.
  String text = u"word";
  while (width(text + u" word") < 296) text += u" word";
  text += u" x";
  while (width(text + u"x") < 296) text += u"x";
  ::SelectObject(dc, old);
  ::ReleaseDC(nullptr, dc);
  warning->SetCaption(u"word");
  notices.Realign();
  const int warningLine = BoundsOf(warning->Handle()).Height();
  warning->SetCaption(text);
  notices.Realign();
  EXPECT_GT(BoundsOf(warning->Handle()).Height(), warningLine) << zel::ToUtf8(text);  // a second line
}

TEST_F(Toolkit, ButtonEditPlacesItsButtonInsideAndReportsChanges) {
  TZELPanel panel;
  auto* edit = panel.Add<TZELButtonEdit>();
  edit->SetBounds(60, 70, 540, 21);
  EXPECT_FALSE(edit->HasCaption());
  EXPECT_EQ(BoundsOf(edit->Handle()), (TRect{60, 70, 500, 91}));
  EXPECT_EQ(BoundsOf(edit->Button().Handle()), (TRect{500, 70, 600, 91}));
  edit->SetButtonWidth(80);
  EXPECT_EQ(BoundsOf(edit->Button().Handle()), (TRect{520, 70, 600, 91}));

  int changes = 0;
  edit->OnChange = [&] { ++changes; };
  int clicks = 0;
  edit->OnButtonClick = [&] { ++clicks; };
  edit->SetText(u"C:\\Program Files\\KIVO\\");
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(edit->Text(), u"C:\\Program Files\\KIVO\\");
  ::SendMessageW(edit->Button().Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(clicks, 1);
  edit->SetEnabled(false);
  EXPECT_FALSE(edit->Button().Enabled());
}

TEST_F(Toolkit, MovingToAMonitorWithAnotherDpiRescalesTheWindowAndItsControls) {
  TZELForm form(L"TZELTestForm", 640, 480);
  auto* button = form.Add<TZELButton>();
  button->SetBounds(511, 447, 121, 25);
  TZELPanel panel;
  auto* box = panel.Add<TZELCheckBox>();
  box->SetBounds(60, 100, 540, 17);
  panel.SetParentWindow(form);
  panel.SetBoundsPixels(TRect{0, 67, 640, 436});
  RECT client{};
  ::GetClientRect(form.Handle(), &client);
  ASSERT_EQ(client.right, 640);
  ASSERT_EQ(client.bottom, 480);

  // What the system sends when the window is moved to a monitor at 150 %.
  RECT suggested{100, 100, 1100, 900};
  ::SendMessageW(form.Handle(), WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  ::GetClientRect(form.Handle(), &client);
  EXPECT_EQ(client.right, 960);
  EXPECT_EQ(client.bottom, 720);
  EXPECT_EQ(form.Dpi(), 144u);
  EXPECT_EQ(BoundsOf(button->Handle()), (TRect{767, 671, 949, 709}));
  // A panel follows when it is given its parent again (the wizard does so for its pages).
  panel.SetParentWindow(form);
  EXPECT_EQ(panel.Dpi(), 144u);
  EXPECT_EQ(BoundsOf(box->Handle()), (TRect{90, 150, 900, 176}));
  // The font follows too: 9 points at 144 DPI.
  LOGFONTW font{};
  ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(button->Handle(), WM_GETFONT, 0, 0)), sizeof(font), &font);
  EXPECT_EQ(font.lfHeight, -18);
}
