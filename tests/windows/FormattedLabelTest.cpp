// The formatted label: word-wrapped text whose links open through the application's
// link handler, by mouse and by keyboard, with the markup kept as the window's text.
#include <gtest/gtest.h>

#include <windows.h>

#include "ui/toolkit/Application.h"
#include "ui/toolkit/Picture.h"

using namespace zel;

TEST(FormattedLabel, LinksOpenByMouseAndKeyboard) {
  Application::Initialize();
  std::vector<String> opened;
  Application::SetLinkHandler([&](const String& url) { opened.push_back(url); });
  TZELPanel panel;
  panel.SetBoundsPixels(TRect{0, 0, 640, 369});
  auto* label = panel.Add<TZELFormattedLabel>();
  label->SetBounds(40, 280, 200, 60);
  const String markup =
      u"Read <a href=\"https://kivo.example/a\">licence</a> and then the "
      u"<a href=\"https://kivo.example/b\">privacy policy</a> of the add-ons, <a>nowhere</a>.";
  label->SetCaption(markup);
  EXPECT_EQ(label->Caption(), markup);  // tools read the markup
  EXPECT_EQ(label->Links(), (std::vector<String>{u"https://kivo.example/a", u"https://kivo.example/b", u""}));
  // A click on the first word opens nothing; on "licence" (right after "Read ") it opens.
  HDC dc = ::GetDC(label->Handle());
  ::SelectObject(dc, GetFont(label->Font(), 96));
  SIZE read{};
  ::GetTextExtentPoint32W(dc, L"Read ", 5, &read);
  ::ReleaseDC(label->Handle(), dc);
  ::SendMessageW(label->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(2, 5));
  EXPECT_TRUE(opened.empty());
  ::SendMessageW(label->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(read.cx + 3, 5));
  EXPECT_EQ(opened, (std::vector<String>{u"https://kivo.example/a"}));

  // Keyboard: the first link is focused; the arrow moves on; a link without an address opens nothing.
  opened.clear();
  for (WPARAM key : {WPARAM(VK_RETURN), WPARAM(VK_RIGHT), WPARAM(VK_SPACE), WPARAM(VK_RIGHT), WPARAM(VK_RETURN),
                     WPARAM(VK_RIGHT), WPARAM(VK_LEFT), WPARAM(VK_RETURN)})
    ::SendMessageW(label->Handle(), WM_KEYDOWN, key, 1);
  EXPECT_EQ(opened,
            (std::vector<String>{u"https://kivo.example/a", u"https://kivo.example/b", u"https://kivo.example/b"}));
  MSG enter{label->Handle(), WM_KEYDOWN, VK_RETURN, 1};
  EXPECT_TRUE(::SendMessageW(label->Handle(), WM_GETDLGCODE, VK_RETURN, reinterpret_cast<LPARAM>(&enter)) &
              DLGC_WANTMESSAGE);

  // New text: the links are the new ones, the focus back on the first.
  opened.clear();
  label->SetCaption(u"plain, no link");
  EXPECT_TRUE(label->Links().empty());
  ::SendMessageW(label->Handle(), WM_KEYDOWN, VK_RETURN, 1);
  EXPECT_TRUE(opened.empty());
  Application::SetLinkHandler(nullptr);
}
