// On a high-density screen (scale factor 2) every picture is decoded, fitted and drawn at
// device pixels: the main window's picture, full screen and the 1:1 preview carry one
// picture pixel per device pixel, never doubled ones; live frames are rendered at the
// picture area's device pixels. Qt is started with QT_SCALE_FACTOR=2.
#include "MainWindowHarness.h"
#include "display/BitmapImage.h"
#include "liveview/LiveViewController.h"
#include "liveview/LiveViewPanel.h"
#include "mainview/ControlIds.h"
#include "windows/CFullscreenDlg.h"
#include "windows/CImagePreviewDlg.h"

#include "TestPictures.h"  // tests/imaging

#include <QScrollBar>

#include <gtest/gtest.h>

namespace {

// Set before the application exists, whichever test runs first.
const bool kScaled = [] {
    qputenv("QT_SCALE_FACTOR", "2");
    return true;
}();

// Columns alternating between two colours, one picture pixel wide: detail that doubling
// would turn into pairs of equal columns. Lossless enough at quality 100 and 4:4:4.
std::vector<uint8_t> StripedJpeg(int width, int height)
{
    testpictures::Rgb img(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            x % 2 ? img.Set(x, y, 230, 230, 230) : img.Set(x, y, 20, 20, 20);
    return testpictures::EncodeJpeg(img, testpictures::JpegOptions{100, 1, 1, false});
}

// How many neighbouring columns of row y differ clearly (light next to dark).
int Alternations(const QImage& image, int y, int x0, int x1)
{
    int n = 0;
    for (int x = x0; x + 1 < x1; ++x)
        n += std::abs(qGray(image.pixel(x, y)) - qGray(image.pixel(x + 1, y))) > 100 ? 1 : 0;
    return n;
}

void ShowPicture(CMyTethrocamView* view, std::vector<uint8_t> bytes)
{
    Notification n;
    n.message = WM_DISPLAY_JPEG;
    n.wParam = static_cast<int64_t>(bytes.size());
    n.bytes = std::move(bytes);
    view->Post(std::move(n));
    testsupport::Pump(100);
}

} // namespace

TEST(HighDensity, TheMainWindowsPictureIsFittedToDevicePixelsAndDrawnOneToOne)
{
    ASSERT_TRUE(kScaled);
    harness::Window w;
    ASSERT_DOUBLE_EQ(w.view->devicePixelRatioF(), 2.0);
    w.frame->resize(900, 600);
    testsupport::Pump(100);

    // A picture smaller than the free area is shown at its own size in device pixels: the
    // control is half as large in the window's pixels.
    ShowPicture(w.view, StripedJpeg(240, 160));
    ASSERT_TRUE(w.view->DisplayBitmap());
    EXPECT_EQ(w.view->DisplayBitmap()->width, 240);
    EXPECT_EQ(w.view->Picture()->width(), 120);
    const QImage painted = harness::Painted(w.view->Picture());
    ASSERT_EQ(painted.width(), 240);  // device pixels
    EXPECT_GE(Alternations(painted, 80, 0, 240), 235);

    // A camera picture is fitted to the free area's device pixels, twice its size in the
    // window's pixels, not fitted to the window's pixels and doubled.
    ShowPicture(w.view, testpictures::EncodeJpeg(testpictures::PhotoLikeScene(3072, 2048)));
    ASSERT_TRUE(w.view->DisplayBitmap());
    const int logicalWidth = w.view->Picture()->width();
    EXPECT_GT(logicalWidth, 200);
    EXPECT_NEAR(w.view->DisplayBitmap()->width, 2 * logicalWidth, 1);
    EXPECT_EQ(w.view->Picture()->x() + logicalWidth, w.view->width());  // still flush right
}

TEST(HighDensity, FullScreenFitsTheScreensDevicePixels)
{
    harness::Window w;
    ShowPicture(w.view, StripedJpeg(400, 300));
    CFullscreenDlg dlg(w.view, false);
    dlg.resize(800, 600);
    dlg.show();
    testsupport::Pump(100);
    dlg.Render();
    testsupport::Pump(50);
    ASSERT_TRUE(dlg.Image());
    EXPECT_EQ(dlg.Image()->width, 400);  // fits in 1600 x 1200 device pixels unreduced
    const QImage painted = harness::Painted(&dlg);
    ASSERT_EQ(painted.width(), 1600);
    // Centred in device pixels: columns 600 .. 999 hold the picture, one pixel each.
    EXPECT_GE(Alternations(painted, 600, 600, 1000), 395);
    EXPECT_TRUE(harness::IsBlack(painted.pixel(590, 600)));
}

TEST(HighDensity, ThePreviewShowsOnePicturePixelPerDevicePixel)
{
    harness::Window w;
    const std::vector<uint8_t> jpeg = StripedJpeg(1000, 700);
    CImagePreviewDlg preview(w.view);
    preview.Show(jpeg.data(), jpeg.size(), 0);
    const QSize frame = preview.size() - preview.ClientSize();
    preview.resize(QSize(300, 200) + frame);
    testsupport::Pump(100);
    // The scroll range is the picture's extent in the window's pixels.
    EXPECT_EQ(preview.horizontalScrollBar()->maximum(), 500 - preview.ClientSize().width());
    const QImage painted = harness::Painted(preview.viewport());
    ASSERT_EQ(painted.width(), 600);
    EXPECT_GE(Alternations(painted, 200, 0, 600), 595);
}

TEST(HighDensity, LiveFramesAreRenderedAtThePictureAreasDevicePixels)
{
    harness::Window w;
    w.frame->resize(900, 600);
    testsupport::Pump(100);
    w.frame->Command(ids::ID_LIVE_VIEW);
    LiveViewPanel* panel = w.view->LiveView()->Panel();
    ASSERT_TRUE(testsupport::WaitUntil([&] { return panel->isVisible() && panel->FramesPainted() >= 3; }, 10000));
    const QRect shown = panel->PictureRect();
    ASSERT_TRUE(panel->Frame());
    EXPECT_GT(shown.width(), 200);
    // The frame (1024 pixels wide) is reduced to the area's device pixels, not to its
    // window pixels and then doubled.
    EXPECT_NEAR(panel->Frame()->width(), 2 * shown.width(), 1);
    EXPECT_DOUBLE_EQ(panel->Frame()->devicePixelRatio(), 2.0);
    EXPECT_EQ(harness::Painted(panel).width(), 2 * panel->width());
    w.frame->Command(ids::ID_LIVE_VIEW);
    testsupport::Pump(100);
}
