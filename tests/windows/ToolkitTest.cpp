// The toolkit's window-side rules: the dark-mode setting as the system stores it, the
// alignment of controls in a container, labels fitted to their text, and the edit with
// its button, and the message box in every theme, controls and the rich viewer's text
// at a new DPI, and right-aligned text that ends at its edge in every size.
#include <gtest/gtest.h>

#include <windows.h>
#include <richedit.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <optional>
#include <vector>

#include "TestBoxes.h"
#include "ui/toolkit/Application.h"
#include "ui/toolkit/Button.h"
#include "ui/toolkit/Edit.h"
#include "ui/toolkit/Form.h"
#include "ui/toolkit/Label.h"
#include "ui/toolkit/Memo.h"
#include "ui/toolkit/MessageForm.h"
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

// What a message box of this thread showed, read from a thread of its own (the box is
// modal: the test's thread is inside it meanwhile), which then answers it with a list of
// posted messages.
struct TBoxSeen {
  std::vector<int> Ids;  // buttons from left to right
  std::vector<String> Captions;
  int DefaultId = 0;
  RECT Box{};
  RECT Text{};        // the message, in screen coordinates
  int TextNeeds = 0;  // the height the message needs at the label's width
  int ButtonsTop = 0;
  bool CloseBoxEnabled = true;
};

class TBoxWatcher {
public:
  using TAnswer = std::function<void(HWND box)>;
  explicit TBoxWatcher(TAnswer answer)
      : FWatcher([this, answer = std::move(answer)](HWND box) {
          Read(box);
          answer(box);
        }) {}
  TBoxSeen Seen;

private:
  void Read(HWND box) {
    ::GetWindowRect(box, &Seen.Box);
    std::vector<std::pair<int, HWND>> buttons;
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
      RECT r{};
      ::GetWindowRect(child, &r);
      if (::GetDlgCtrlID(child) == 0xFFFF) {
        Seen.Text = r;
        wchar_t text[2048];
        const int n = ::GetWindowTextW(child, text, 2048);
        HDC dc = ::GetDC(child);
        HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(child, WM_GETFONT, 0, 0)));
        RECT need{0, 0, r.right - r.left, 0};
        ::DrawTextW(dc, text, n, &need, DT_NOPREFIX | DT_WORDBREAK | DT_CALCRECT);
        ::SelectObject(dc, old);
        ::ReleaseDC(child, dc);
        Seen.TextNeeds = need.bottom;
        continue;
      }
      buttons.emplace_back(r.left, child);
      Seen.ButtonsTop = r.top;
      if ((::GetWindowLongPtrW(child, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
        Seen.DefaultId = ::GetDlgCtrlID(child);
    }
    std::sort(buttons.begin(), buttons.end());
    for (const auto& [left, button] : buttons) {
      wchar_t caption[64];
      const int n = ::GetWindowTextW(button, caption, 64);
      Seen.Ids.push_back(::GetDlgCtrlID(button));
      Seen.Captions.push_back(from_wcstr(caption, static_cast<size_t>(n)));
    }
    Seen.CloseBoxEnabled = !(::GetMenuState(::GetSystemMenu(box, FALSE), SC_CLOSE, MF_BYCOMMAND) & MF_GRAYED);
  }
  kivo::test::TMessageBoxWatcher FWatcher;  // last: it may read into Seen at once
};

void PostKey(HWND window, WPARAM key) { ::PostMessageW(window, WM_KEYDOWN, key, 0); }

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
  label->SetCaption(
      u"Several words that cannot share one line of two hundred pixels, so that the text wraps "
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
  auto* viewer = panel.Add<TZELRichViewer>();
  viewer->SetBounds(60, 130, 540, 200);
  viewer->SetText(u"One\r\nTwo\r\nThree\r\n");
  // The viewer's lines are as far apart as the toolkit's font is high at the window's DPI.
  const auto lineHeight = [&] {
    POINTL first{}, second{};
    ::SendMessageW(viewer->Handle(), EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&first), 0);
    ::SendMessageW(viewer->Handle(), EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&second), 4);
    return static_cast<int>(second.y - first.y);
  };
  const auto fontHeight = [](unsigned dpi) {
    HDC dc = ::GetDC(nullptr);
    const HGDIOBJ old = ::SelectObject(dc, GetFont(TFontStyle{}, dpi));
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    ::SelectObject(dc, old);
    ::ReleaseDC(nullptr, dc);
    return static_cast<int>(metrics.tmHeight);
  };
  panel.SetParentWindow(form);
  panel.SetBoundsPixels(TRect{0, 67, 640, 436});
  EXPECT_NEAR(lineHeight(), fontHeight(96), 2);
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
  // Rich edit lays its points out at the system's DPI (96 here) and zooms to the window's:
  // its text is as large as the other controls', not scaled twice.
  EXPECT_NEAR(lineHeight(), fontHeight(144), 2);
  // The font follows too: 9 points at 144 DPI.
  LOGFONTW font{};
  ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(button->Handle(), WM_GETFONT, 0, 0)), sizeof(font), &font);
  EXPECT_EQ(font.lfHeight, -18);
}

TEST_F(Toolkit, MessageBoxesAnswerAsTheSystemsDo) {
  using TButtons = TZELMessageForm::TButtons;
  using TIcon = TZELMessageForm::TIcon;
  TZELForm owner(L"TZELTestForm", 640, 480);
  owner.Show();
  // Each row: the buttons, the default, what the user does, and the answer it gives.
  struct TRow {
    const char* Name;
    TButtons Buttons;
    int DefaultIndex;
    std::function<void(HWND)> Act;
    int Expected;
    std::vector<int> Ids;
    int DefaultId;
    bool CloseBox;
  };
  const std::vector<TRow> rows = {
      {"OK: Enter",
       TButtons::Ok,
       0,
       [](HWND box) { PostKey(::GetDlgItem(box, IDOK), VK_RETURN); },
       IDOK,
       {IDOK},
       IDOK,
       true},
      {"OK: Esc answers OK", TButtons::Ok, 0, [](HWND box) { PostKey(box, VK_ESCAPE); }, IDOK, {IDOK}, IDOK, true},
      {"OK/Cancel: Enter on the default Cancel",
       TButtons::OkCancel,
       1,
       [](HWND box) { PostKey(::GetDlgItem(box, IDCANCEL), VK_RETURN); },
       IDCANCEL,
       {IDOK, IDCANCEL},
       IDCANCEL,
       true},
      {"OK/Cancel: Enter after Tab back to OK",
       TButtons::OkCancel,
       1,
       [](HWND box) {
         PostKey(::GetDlgItem(box, IDCANCEL), VK_TAB);
         PostKey(::GetDlgItem(box, IDCANCEL), VK_RETURN);
       },
       IDOK,
       {IDOK, IDCANCEL},
       IDCANCEL,
       true},
      {"OK/Cancel: Esc",
       TButtons::OkCancel,
       0,
       [](HWND box) { PostKey(::GetDlgItem(box, IDOK), VK_ESCAPE); },
       IDCANCEL,
       {IDOK, IDCANCEL},
       IDOK,
       true},
      {"OK/Cancel: the close box",
       TButtons::OkCancel,
       0,
       [](HWND box) { ::PostMessageW(box, WM_CLOSE, 0, 0); },
       IDCANCEL,
       {IDOK, IDCANCEL},
       IDOK,
       true},
      // No Cancel: Esc and the close box do nothing, the access key answers.
      {"Abort/Retry/Ignore: Esc, close, then R",
       TButtons::AbortRetryIgnore,
       0,
       [](HWND box) {
         PostKey(::GetDlgItem(box, IDABORT), VK_ESCAPE);
         ::PostMessageW(box, WM_CLOSE, 0, 0);
         ::PostMessageW(::GetDlgItem(box, IDABORT), WM_CHAR, L'r', 0);
       },
       IDRETRY,
       {IDABORT, IDRETRY, IDIGNORE},
       IDABORT,
       false},
      {"Abort/Retry/Ignore: Enter",
       TButtons::AbortRetryIgnore,
       0,
       [](HWND box) { PostKey(::GetDlgItem(box, IDABORT), VK_RETURN); },
       IDABORT,
       {IDABORT, IDRETRY, IDIGNORE},
       IDABORT,
       false},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.Name);
    TBoxWatcher watcher(row.Act);
    const int answer =
        TZELMessageForm(owner.Handle(), u"Short text", u"Question", TIcon::Question, row.Buttons, row.DefaultIndex)
            .ShowModal();
    EXPECT_EQ(answer, row.Expected);
    EXPECT_EQ(watcher.Seen.Ids, row.Ids);
    EXPECT_EQ(watcher.Seen.DefaultId, row.DefaultId);
    EXPECT_EQ(watcher.Seen.CloseBoxEnabled, row.CloseBox);
    EXPECT_TRUE(::IsWindowEnabled(owner.Handle()));  // given back after the box
  }

  // The captions come from the language; a long German one widens every button alike.
  TMessageBoxTexts saved = MessageBoxTexts();
  MessageBoxTexts().Ok = u"OK";
  MessageBoxTexts().Cancel = u"Abbrechen und zurück zur vorigen Seite";
  {
    TBoxWatcher watcher([](HWND box) { PostKey(box, VK_ESCAPE); });
    TZELMessageForm(owner.Handle(), u"Text", u"Frage", TIcon::Question, TButtons::OkCancel).ShowModal();
    EXPECT_EQ(watcher.Seen.Captions, (std::vector<String>{u"OK", u"Abbrechen und zurück zur vorigen Seite"}));
  }
  MessageBoxTexts() = saved;

  // A long message with a path longer than a line: wrapped in full above the buttons,
  // centred on its owner and inside the work area; a short one makes a narrower box.
  const String longText =
      u"The file \"C:\\Program Files\\KIVO\\" + String(90, u'x') +
      u".dll\" is in use by another program and cannot be replaced. Close the programs that may be using it and "
      u"click Retry, click Ignore to skip this file, or click Abort to cancel the installation.";
  TBoxSeen wide;
  {
    TBoxWatcher watcher([](HWND box) { PostKey(::GetDlgItem(box, IDABORT), VK_RETURN); });
    TZELMessageForm(owner.Handle(), longText, u"Setup", TIcon::Warning, TButtons::AbortRetryIgnore).ShowModal();
    wide = watcher.Seen;
  }
  EXPECT_GE(wide.Text.bottom - wide.Text.top, wide.TextNeeds);
  EXPECT_GT(wide.TextNeeds, 40);  // wrapped onto several lines
  EXPECT_LE(wide.Text.bottom, wide.ButtonsTop);
  EXPECT_LE(wide.Text.right, wide.Box.right);
  RECT work{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_GE(wide.Box.left, work.left);
  EXPECT_GE(wide.Box.top, work.top);
  EXPECT_LE(wide.Box.right, work.right);
  EXPECT_LE(wide.Box.bottom, work.bottom);
  RECT ownerRect{};
  ::GetWindowRect(owner.Handle(), &ownerRect);
  EXPECT_NEAR((wide.Box.left + wide.Box.right) / 2, (ownerRect.left + ownerRect.right) / 2, 2);
  EXPECT_NEAR((wide.Box.top + wide.Box.bottom) / 2, (ownerRect.top + ownerRect.bottom) / 2, 2);
  TBoxSeen narrow;
  {
    TBoxWatcher watcher([](HWND box) { PostKey(box, VK_ESCAPE); });
    TZELMessageForm(owner.Handle(), u"Done.", u"Setup", TIcon::Information, TButtons::Ok).ShowModal();
    narrow = watcher.Seen;
  }
  EXPECT_LT(narrow.Box.right - narrow.Box.left, wide.Box.right - wide.Box.left);

  // Without an owner the box blocks every window of its thread while it is open.
  {
    std::atomic<bool> ownerDisabled{false};
    TBoxWatcher watcher([&](HWND box) {
      ownerDisabled = !::IsWindowEnabled(owner.Handle());
      PostKey(box, VK_ESCAPE);
    });
    TZELMessageForm(nullptr, u"Error", u"Setup", TIcon::Error, TButtons::Ok).ShowModal();
    EXPECT_TRUE(ownerDisabled);
    EXPECT_TRUE(::IsWindowEnabled(owner.Handle()));
  }
}

TEST_F(Toolkit, IndentedLinesOfAViewerWrapUnderTheirFirstLetter) {
  TZELPanel panel;
  auto* viewer = panel.Add<TZELRichViewer>();
  viewer->SetBounds(0, 0, 220, 300);
  const String item = u"This folder holds an older version, and updating it is recommended over a new copy.";
  viewer->SetText(u"Setup Options:\r\n    " + item + u"\r\n" + item + u"\r\n");
  HWND edit = viewer->Handle();
  const auto x = [&](LONG index) {
    POINTL point{};
    ::SendMessageW(edit, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&point), index);
    return point.x;
  };
  const auto nextLineStart = [&](LONG index) {
    const LRESULT line = ::SendMessageW(edit, EM_EXLINEFROMCHAR, 0, index);
    return static_cast<LONG>(::SendMessageW(edit, EM_LINEINDEX, static_cast<WPARAM>(line + 1), 0));
  };
  // Rich edit keeps each line break as one character.
  const LONG indented = static_cast<LONG>(String(u"Setup Options:\r").size());
  const LONG firstLetter = indented + 4;
  const LONG wrapped = nextLineStart(indented);
  ASSERT_LT(wrapped, indented + 4 + static_cast<LONG>(item.size()));  // the item does wrap
  EXPECT_NEAR(x(wrapped), x(firstLetter), 1);                         // twips to pixels may round by one
  EXPECT_GT(x(wrapped), x(indented) + 5);
  // A line without spaces before it wraps at the edge, as before.
  const LONG plain = indented + 4 + static_cast<LONG>(item.size()) + 1;
  EXPECT_EQ(x(nextLineStart(plain)), x(plain));
  // The text itself stays as given: the indent is the paragraph's, not added spaces.
  wchar_t shown[512];
  const int n = ::GetWindowTextW(edit, shown, 512);
  EXPECT_EQ(from_wcstr(shown, static_cast<size_t>(n)), u"Setup Options:\r\n    " + item + u"\r\n" + item + u"\r\n");
}

namespace {

// A white bitmap to draw on as a window paints, and where its black text came out.
class TInkBitmap {
public:
  static constexpr int Width = 1000;
  static constexpr int Height = 200;
  TInkBitmap() {
    HDC screen = ::GetDC(nullptr);
    FDC = ::CreateCompatibleDC(screen);
    FBitmap.Reset(::CreateCompatibleBitmap(screen, Width, Height));
    ::ReleaseDC(nullptr, screen);
    FOld = ::SelectObject(FDC, FBitmap.Get());
  }
  ~TInkBitmap() {
    ::SelectObject(FDC, FOld);
    ::DeleteDC(FDC);
  }
  TInkBitmap(const TInkBitmap&) = delete;
  TInkBitmap& operator=(const TInkBitmap&) = delete;
  HDC DC() const { return FDC; }
  void Clear() {
    const RECT all{0, 0, Width, Height};
    ::FillRect(FDC, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  }
  // The leftmost and rightmost inked column of each run of inked rows (each line).
  std::vector<std::pair<int, int>> InkOfLines() const {
    BITMAPINFO info{};
    info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), Width, -Height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<uint32_t> pixels(static_cast<size_t>(Width) * Height);
    ::GetDIBits(FDC, static_cast<HBITMAP>(FBitmap.Get()), 0, Height, pixels.data(), &info, DIB_RGB_COLORS);
    std::vector<std::pair<int, int>> lines;
    bool inLine = false;
    for (int y = 0; y < Height; ++y) {
      int left = Width, right = -1;
      for (int x = 0; x < Width; ++x)
        if ((pixels[static_cast<size_t>(y) * Width + x] & 0xFF) < 128) {
          left = std::min(left, x);
          right = std::max(right, x);
        }
      if (right >= 0 && !inLine) lines.emplace_back(left, right);
      if (right >= 0) lines.back() = {std::min(lines.back().first, left), std::max(lines.back().second, right)};
      inLine = right >= 0;
    }
    return lines;
  }

private:
  HDC FDC = nullptr;
  TGdiObject FBitmap;
  HGDIOBJ FOld = nullptr;
};

}  // namespace

TEST_F(Toolkit, RightAlignedLinesEndAtTheRightEdgeInEverySizeAndScale) {
  // The header's title (11 points) and description (8 points) at 100 %, 125 % (a fitted
  // window), 150 % and 200 %.
  const TRect band{100, 0, 900, TInkBitmap::Height};
  struct TLine {
    int Points;
    String Text;
  };
  const std::vector<TLine> lines = {
      {11, u"Setup Options"},
      {8, u"Choose where and how to install KIVO."},
      {8, u"Choose the shortcuts and how KIVO works with Windows."},
      {11,
       u"\u041f\u0430\u0440\u0430\u043c\u0435\u0442\u0440\u044b "
       u"\u0443\u0441\u0442\u0430\u043d\u043e\u0432\u043a\u0438"},
      {8,
       u"\u0412\u044b\u0431\u0435\u0440\u0438\u0442\u0435, \u043a\u0443\u0434\u0430 \u0438 \u043a\u0430\u043a "
       u"\u0443\u0441\u0442\u0430\u043d\u043e\u0432\u0438\u0442\u044c KIVO."},
      {8, u"Two lines.\r\nThe second one, longer."},
  };
  TInkBitmap bitmap;
  for (unsigned dpi : {96u, 120u, 144u, 192u}) {
    std::vector<int> ends;
    for (const TLine& line : lines) {
      SCOPED_TRACE(::testing::Message() << dpi << " DPI, " << line.Points << " points: " << ToUtf8(line.Text));
      bitmap.Clear();
      TZELCanvas canvas(bitmap.DC(), TScale::ForDpi(static_cast<int>(dpi)));
      canvas.SetFont(GetFont(TFontStyle{line.Points, false}, dpi));
      canvas.DrawText(line.Text, band, 0x000000, DT_RIGHT);
      const auto ink = bitmap.InkOfLines();
      ASSERT_EQ(ink.size(), line.Text.find(u'\n') == String::npos ? 1u : 2u);
      for (const auto& [left, right] : ink) {
        EXPECT_LT(right, band.Right);  // nothing past the edge, and nothing left out
        EXPECT_GE(right, band.Right - 4);
        ends.push_back(right);
      }
    }
    // The title's and the descriptions' last letters line up.
    EXPECT_LE(*std::max_element(ends.begin(), ends.end()) - *std::min_element(ends.begin(), ends.end()), 2)
        << dpi << " DPI";
  }
  // Longer than the band: from its left edge, cut at its right one.
  bitmap.Clear();
  TZELCanvas canvas(bitmap.DC(), TScale::ForDpi(96));
  canvas.SetFont(GetFont(TFontStyle{11, false}, 96));
  canvas.DrawText(String(20, u'W') + u" " + String(40, u'W'), band, 0x000000, DT_RIGHT);
  const auto ink = bitmap.InkOfLines();
  ASSERT_EQ(ink.size(), 1u);
  EXPECT_GE(ink[0].first, band.Left);
  EXPECT_LE(ink[0].first, band.Left + 2);
  EXPECT_LT(ink[0].second, band.Right);
  EXPECT_GE(ink[0].second, band.Right - 4);
}
