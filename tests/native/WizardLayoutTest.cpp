#include <gtest/gtest.h>

#include "ui/WizardLayout.h"
#include "ui/toolkit/Scaling.h"

using namespace zel;
using namespace kivo;

namespace {
const TRect kClient{0, 0, 640, 480};
const TScale k100 = TScale::ForDpi(96);
const TScale k150 = TScale::ForDpi(144);
}  // namespace

TEST(WizardLayout, RegionsAt100And150Percent) {
  struct TCase {
    const char* Name;
    TRect Client;
    TScale Scale;
    TRect Header, Strip, Footer, Page, FullPage, HeaderText;
  } cases[] = {
      {"100 %",
       kClient,
       k100,
       {0, 0, 640, 53},
       {0, 53, 640, 63},
       {0, 436, 640, 480},
       {0, 67, 640, 436},
       {0, 0, 640, 436},
       {144, 6, 624, 41}},
      // 53 × 1.5 = 79.5 rounds up; the client grows with the scale.
      {"150 %",
       {0, 0, 960, 720},
       k150,
       {0, 0, 960, 80},
       {0, 80, 960, 95},
       {0, 654, 960, 720},
       {0, 101, 960, 654},
       {0, 0, 960, 654},
       {216, 9, 936, 62}},
      {"offset client",
       {10, 20, 650, 500},
       k100,
       {10, 20, 650, 73},
       {10, 73, 650, 83},
       {10, 456, 650, 500},
       {10, 87, 650, 456},
       {10, 20, 650, 456},
       {154, 26, 634, 61}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(HeaderBounds(c.Client, c.Scale), c.Header);
    EXPECT_EQ(ProgressBounds(c.Client, c.Scale), c.Strip);
    EXPECT_EQ(FooterBounds(c.Client, c.Scale), c.Footer);
    EXPECT_EQ(PageBounds(c.Client, false, c.Scale), c.Page);
    EXPECT_EQ(PageBounds(c.Client, true, c.Scale), c.FullPage);
    EXPECT_EQ(HeaderTextBounds(c.Client, c.Scale), c.HeaderText);
  }
}

TEST(WizardLayout, StripCellsDividedByPagesMinusOne) {
  struct TCase {
    int Pages;
    int CellWidth;
  } cases[] = {{0, 0}, {1, 0}, {2, 0}, {3, 320}, {5, 160}, {8, 91}, {641, 1}, {642, 0}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Pages);
    TInstallerProgressLayout layout;
    layout.Calculate(ProgressBounds(kClient, k100), c.Pages, k100);
    EXPECT_EQ(layout.CellWidth(), c.CellWidth);
    EXPECT_EQ(layout.Content(), (TRect{0, 55, 640, 61}));
  }
}

TEST(WizardLayout, StripKeepsItsCellWidthWithTwoPagesOrFewer) {
  TInstallerProgressLayout layout;
  layout.Calculate(ProgressBounds(kClient, k100), 5, k100);
  layout.Calculate(ProgressBounds(kClient, k100), 2, k100);
  EXPECT_EQ(layout.CellWidth(), 160);
}

TEST(WizardLayout, StripCellsDotsAndFill) {
  TInstallerProgressLayout layout;
  layout.Calculate(ProgressBounds(kClient, k100), 5, k100);  // cells of 160
  EXPECT_EQ(layout.GetCellBounds(0), (TRect{0, 55, 160, 61}));
  EXPECT_EQ(layout.GetCellBounds(4), (TRect{640, 55, 800, 61}));  // the last page: strip filled across

  const std::vector<TRect> dots = layout.Dots(2);
  ASSERT_EQ(dots.size(), 26u);  // 160 / 6
  EXPECT_EQ(dots.front(), (TRect{320, 55, 323, 61}));
  EXPECT_EQ(dots[1], (TRect{326, 55, 329, 61}));
  EXPECT_EQ(dots.back(), (TRect{470, 55, 473, 61}));

  struct TCase {
    int Index, Progress, Right;
  } fills[] = {{0, 0, 0}, {2, 0, 320}, {2, 50, 400}, {2, 100, 480}, {3, 33, 533}, {4, 0, 640}};
  for (const TCase& c : fills) {
    SCOPED_TRACE(c.Index * 1000 + c.Progress);
    EXPECT_EQ(layout.Fill(c.Index, c.Progress), (TRect{0, 55, c.Right, 61}));
  }
  TInstallerProgressLayout empty;
  empty.Calculate(ProgressBounds(kClient, k100), 2, k100);
  EXPECT_TRUE(empty.Dots(0).empty());
  EXPECT_EQ(empty.Fill(1, 100).Width(), 0);
}

TEST(WizardLayout, NextButtonCaptionFromTheNextPage) {
  EXPECT_EQ(String(NextButtonKey(TNextPageKind::None)), u"bFinish");
  EXPECT_EQ(String(NextButtonKey(TNextPageKind::Normal)), u"bNext");
  EXPECT_EQ(String(NextButtonKey(TNextPageKind::Install)), u"bInstall");
  EXPECT_EQ(String(NextButtonKey(TNextPageKind::Uninstall)), u"bUninstall");
}

TEST(WizardLayout, NavigationSkipsUnavailablePagesBothWays) {
  const std::vector<bool> pages = {true, true, false, false, true, true};
  struct TCase {
    int Index, Next, Prev;
  } cases[] = {{0, 1, -1}, {1, 4, 0}, {2, 4, 1}, {4, 5, 1}, {5, -1, 4}, {-1, 0, -1}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Index);
    EXPECT_EQ(NextAvailableIndex(pages, c.Index), c.Next);
    EXPECT_EQ(PrevAvailableIndex(pages, c.Index), c.Prev);
  }
  EXPECT_EQ(NextAvailableIndex({}, -1), -1);
  EXPECT_EQ(NextAvailableIndex({false, false}, 0), -1);
  EXPECT_EQ(PrevAvailableIndex({false, true}, 1), -1);
}

TEST(WizardLayout, PicturesAreReducedNeverEnlargedWhenASharperOneExists) {
  const std::vector<int> all = {100, 150, 200};
  struct TCase {
    int Dpi;
    std::vector<int> Available;
    int Chosen;
  } cases[] = {
      {96, all, 100},    {120, all, 150},        {144, all, 150},  {168, all, 200},
      {192, all, 200},   {288, all, 200},  // above the largest: the largest, enlarged
      {144, {100}, 100}, {120, {100, 200}, 200}, {96, {200}, 200}, {96, {}, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Dpi);
    EXPECT_EQ(PictureScaleFor(TScale::ForDpi(c.Dpi), c.Available), c.Chosen);
  }
  EXPECT_EQ(PictureNameAt(u"header.png", 100), u"header.png");
  EXPECT_EQ(PictureNameAt(u"wizard_dark.png", 150), u"wizard_dark-150.png");
  EXPECT_EQ(PictureNameAt(u"Images\\add.ons.png", 200), u"Images\\add.ons-200.png");
  EXPECT_EQ(PictureNameAt(u"plain", 200), u"plain-200");
  EXPECT_EQ(PictureNameAt(u"v1.2\\plain", 150), u"v1.2\\plain-150");
}
