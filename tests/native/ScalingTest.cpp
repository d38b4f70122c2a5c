#include <gtest/gtest.h>

#include "ui/toolkit/Scaling.h"

using namespace zel;

TEST(Scaling, MulDivRoundsHalfAwayFromZero) {
  struct TCase {
    int A, B, C, Result;
  } cases[] = {{53, 144, 96, 80},
               {53, 120, 96, 66},
               {1, 144, 96, 2},
               {3, 144, 96, 5},
               {0, 144, 96, 0},
               {-53, 144, 96, -80},
               {53, -144, 96, -80},
               {7, 1, 2, 4},
               {-7, 1, 2, -4},
               {5, 1, 0, -1},
               {2147483647, 2, 2, 2147483647}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.A);
    EXPECT_EQ(MulDivRound(c.A, c.B, c.C), c.Result);
  }
}

TEST(Scaling, DesignUnitsToPixels) {
  EXPECT_TRUE(TScale::ForDpi(96).IsIdentity());
  EXPECT_EQ(TScale::ForDpi(0).Numerator, 96);
  EXPECT_EQ(TScale::ForDpi(144).Bounds(511, 447, 121, 25), (TRect{767, 671, 949, 709}));
  EXPECT_EQ(TScale::ForDpi(120).Bounds(210, 22, 400, 50), (TRect{263, 28, 763, 91}));
  // Fonts: points at 72 per inch.
  EXPECT_EQ(TScale::ForDpi(96).FontHeight(9), -12);
  EXPECT_EQ(TScale::ForDpi(144).FontHeight(11), -22);
  EXPECT_EQ(TScale::ForDpi(96).FontHeight(8), -11);
}

TEST(Scaling, RichEditZoomFollowsThePercentage) {
  struct TCase {
    int Percent, Numerator;
  } cases[] = {{100, 64}, {125, 80}, {150, 96},    {200, 128}, {75, 48}, {1, 2},
               {2, 2},    {3, 3},    {6399, 4095}, {6400, 0},  {0, 0},   {-10, 0}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Percent);
    EXPECT_EQ(RichEditZoomNumerator(c.Percent), c.Numerator);
  }
}

TEST(Scaling, ScrollThumbFollowsThePositionAndBack) {
  // Track 0..100, content 0..399 with a page of 100: a quarter in view.
  struct TCase {
    int Pos, Top;
  } cases[] = {{0, 0}, {150, 37}, {300, 75}, {999, 75}, {-5, 0}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Pos);
    const TScrollThumb thumb = ScrollThumb(0, 100, 0, 399, 100, c.Pos, 16);
    EXPECT_EQ(thumb.Height, 25);
    EXPECT_EQ(thumb.Top, c.Top);
  }
  EXPECT_EQ(ScrollPositionAt(0, 100, 0, 399, 100, 75, 16), 300);
  EXPECT_EQ(ScrollPositionAt(0, 100, 0, 399, 100, 37, 16), 148);
  EXPECT_EQ(ScrollPositionAt(0, 100, 0, 399, 100, -20, 16), 0);
  EXPECT_EQ(ScrollPositionAt(0, 100, 0, 399, 100, 500, 16), 300);
  // A long text: the thumb keeps its least height; an offset track.
  EXPECT_EQ(ScrollThumb(10, 100, 0, 99999, 100, 0, 16).Height, 16);
  EXPECT_EQ(ScrollThumb(10, 100, 0, 99999, 100, 99900, 16).Top, 94);
  // Everything in view, or nothing to show: no thumb.
  EXPECT_EQ(ScrollThumb(0, 100, 0, 99, 100, 0, 16).Height, 0);
  EXPECT_EQ(ScrollThumb(0, 100, 0, 0, 0, 0, 16).Height, 0);
  EXPECT_EQ(ScrollThumb(0, 0, 0, 399, 100, 0, 16).Height, 0);
  EXPECT_EQ(ScrollPositionAt(0, 100, 0, 99, 100, 50, 16), 0);
}
