// The magnification arithmetic: the levels a click steps through, the area each shows and
// the point of the whole frame under a point of the picture on show.
#include "liveview/Magnifier.h"

#include <gtest/gtest.h>

using namespace liveview;

namespace {

TEST(Magnifier, ClicksGoFromFitToFiveToTenTimesCentredOnThePointClickedAndBack)
{
    Magnifier m;
    m.SetFrameSize(1000, 600);
    EXPECT_EQ(m.Level(), 1);
    // Shown at 500 x 300, pixel (250, 150) covers frame pixels 500..501 and 300..301: the
    // 200 x 120 area at 5x is centred on (501, 301).
    m.Click(250, 150, 500, 300);
    EXPECT_EQ(m.Level(), 5);
    AreaF a = m.Area();
    EXPECT_DOUBLE_EQ(a.left, 401);
    EXPECT_DOUBLE_EQ(a.top, 241);
    EXPECT_DOUBLE_EQ(a.width, 200);
    EXPECT_DOUBLE_EQ(a.height, 120);
    // At 5x the corners of the picture on show are the corners of the area.
    EXPECT_EQ(m.FrameAt(0, 0, 500, 300).x, 401);
    EXPECT_EQ(m.FrameAt(0, 0, 500, 300).y, 241);
    EXPECT_EQ(m.FrameAt(499, 299, 500, 300).x, 600);
    EXPECT_EQ(m.FrameAt(499, 299, 500, 300).y, 360);
    m.Click(125, 75, 500, 300);  // a quarter across and down the area: frame point (451, 271)
    EXPECT_EQ(m.Level(), 10);
    EXPECT_EQ(m.Centre().x, 451);
    EXPECT_EQ(m.Centre().y, 271);
    a = m.Area();
    EXPECT_DOUBLE_EQ(a.left, 401);
    EXPECT_DOUBLE_EQ(a.top, 241);
    EXPECT_DOUBLE_EQ(a.width, 100);
    EXPECT_DOUBLE_EQ(a.height, 60);
    m.Click(10, 10, 500, 300);
    EXPECT_EQ(m.Level(), 1);
    a = m.Area();
    EXPECT_DOUBLE_EQ(a.left, 0);
    EXPECT_DOUBLE_EQ(a.width, 1000);
}

TEST(Magnifier, TheMagnifiedAreaStaysInsideTheFrameNearItsEdges)
{
    Magnifier m;
    m.SetFrameSize(1000, 600);
    m.Set(10, {5, 5});
    EXPECT_DOUBLE_EQ(m.Area().left, 0);
    EXPECT_DOUBLE_EQ(m.Area().top, 0);
    m.Set(5, {999, 599});
    EXPECT_DOUBLE_EQ(m.Area().left, 800);
    EXPECT_DOUBLE_EQ(m.Area().top, 480);
    m.Set(5, {-40, 4000});  // a centre outside is taken to the nearest edge
    EXPECT_EQ(m.Centre().x, 0);
    EXPECT_EQ(m.Centre().y, 599);
    m.Set(3, {500, 300});  // no such level: the whole frame
    EXPECT_EQ(m.Level(), 1);
    // A click outside the picture on show counts as its nearest pixel.
    m.Set(1, {500, 300});
    m.Click(-20, 900, 500, 300);
    EXPECT_EQ(m.Centre().x, 1);
    EXPECT_EQ(m.Centre().y, 599);
}

}  // namespace
