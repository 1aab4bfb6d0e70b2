// The full-screen window and the blank screen on the simulated camera, offscreen (an 800 x
// 600 screen): what they paint (black bands, the centred picture, the caption line in its
// colour), their keys, and how they meet the main window's settings and downloads.
#include "MainWindowHarness.h"

#include "windows/CFullscreenDlg.h"

#include <QProgressBar>
#include <QTest>

#include <gtest/gtest.h>

using namespace ids;
using harness::IsBlack;
using harness::Painted;
using harness::Window;
using testsupport::Pump;
using testsupport::WaitUntil;

namespace {

const QRgb kCaptionColour = qRgb(160, 160, 0);

int CaptionPixels(const QImage& painted)
{
    int n = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 300; ++x)
            n += painted.pixel(x, y) == kCaptionColour;
    return n;
}

CFullscreenDlg* OpenFullScreen(Window& w)
{
    w.frame->Command(ID_FULL_SCREEN);
    CFullscreenDlg* dlg = w.view->FullScreen();
    if (dlg)
        WaitUntil([dlg] { return dlg->isVisible() && dlg->width() > 0; }, 2000);
    Pump(50);
    return dlg;
}

// Presses a key in the window and lets the events run.
void Key(QWidget* w, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QTest::keyClick(w, key, mods);
    Pump(30);
}

TEST(FullScreen, BeforeAnyPictureIsBlackWithTheProgramNameInTheCaption)
{
    Window w(Window::Small(), [](Settings& s) { s.FullscreenCaption = true; });
    CFullscreenDlg* dlg = OpenFullScreen(w);
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(w.view->CurrentDisplayWindow(), dlg);
    EXPECT_EQ(dlg->geometry(), w.frame->screen()->geometry());
    EXPECT_EQ(dlg->CaptionText(), "Tethrocam");
    const QImage painted = Painted(dlg);
    EXPECT_FALSE(dlg->Image().has_value());
    EXPECT_GT(CaptionPixels(painted), 10);
    // Everything below the caption line is black.
    int lit = 0;
    for (int y = 40; y < painted.height(); y += 3)
        for (int x = 0; x < painted.width(); x += 3)
            lit += !IsBlack(painted.pixel(x, y));
    EXPECT_EQ(lit, 0);
    Key(dlg, Qt::Key_Escape);
    EXPECT_EQ(w.view->FullScreen(), nullptr);
    EXPECT_EQ(w.view->CurrentDisplayWindow(), w.view);
}

TEST(FullScreen, NarrowPictureHasBlackBandsLeftAndRightOnly)
{
    // Portrait (90 degrees CW): the 960 x 640 picture stands 640 x 960, fitted 400 x 600.
    Window w(Window::Small(), [](Settings& s) { s.OrientationSetting = 2; });
    ASSERT_TRUE(w.Shoot());
    CFullscreenDlg* dlg = OpenFullScreen(w);
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return dlg->Image().has_value(); }, 5000));
    const Bitmap& image = *dlg->Image();
    const int W = dlg->width(), H = dlg->height();
    EXPECT_EQ(image.height, H);
    EXPECT_LT(image.width, W);
    const int x0 = (W - image.width) / 2;
    const QImage painted = Painted(dlg);
    int bandsLit = 0, pictureWrong = 0;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const QRgb c = painted.pixel(x, y);
            if (x < x0 || x >= x0 + image.width) {
                bandsLit += !IsBlack(c);
            } else if (y == 0 || y == H - 1 || y == H / 2) {
                // The picture reaches the top and the bottom edge: no strip above or below.
                const uint8_t* p = image.Row(y) + 3 * (x - x0);
                pictureWrong += c != qRgb(p[2], p[1], p[0]);
            }
        }
    }
    EXPECT_EQ(bandsLit, 0);
    EXPECT_EQ(pictureWrong, 0);
    Key(dlg, Qt::Key_F11);
    EXPECT_EQ(w.view->FullScreen(), nullptr);
}

TEST(FullScreen, CaptionToggleIsPaintedAndSurvivesARestart)
{
    Window w;
    ASSERT_TRUE(w.Shoot());
    CFullscreenDlg* dlg = OpenFullScreen(w);
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(CaptionPixels(Painted(dlg)), 0);
    Key(dlg, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(dlg->CaptionText(), "[1 of 1]: IMG_0001.JPG");
    EXPECT_GT(CaptionPixels(Painted(dlg)), 10);
    Key(dlg, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(CaptionPixels(Painted(dlg)), 0);
    Key(dlg, Qt::Key_C, Qt::ControlModifier);
    EXPECT_GT(CaptionPixels(Painted(dlg)), 10);
    Key(dlg, Qt::Key_F11);
    EXPECT_TRUE(w.view->Prefs().FullscreenCaption);
    w.Close();
    w.Open();
    EXPECT_TRUE(w.view->Prefs().FullscreenCaption);
    ASSERT_TRUE(w.Shoot());
    dlg = OpenFullScreen(w);
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return dlg->Image().has_value(); }, 5000));
    EXPECT_GT(CaptionPixels(Painted(dlg)), 10);
}

TEST(FullScreen, GridToggledInFullScreenIsDrawnAtOnceAndStaysOn)
{
    Window w;
    ASSERT_TRUE(w.Shoot());
    CFullscreenDlg* dlg = OpenFullScreen(w);
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return dlg->Image().has_value(); }, 5000));
    auto greenPixels = [](const Bitmap& b) {
        int n = 0;
        for (int y = 0; y < b.height; ++y)
            for (int x = 0; x < b.width; ++x) {
                const uint8_t* p = b.Row(y) + 3 * x;
                n += p[0] == 0 && p[1] == 255 && p[2] == 0;
            }
        return n;
    };
    EXPECT_LT(greenPixels(*dlg->Image()), 50);
    Key(dlg, Qt::Key_G, Qt::ControlModifier);
    ASSERT_TRUE(dlg->Image().has_value());
    // Eight lines each way across a picture filling the 800 x 600 screen.
    EXPECT_GT(greenPixels(*dlg->Image()), 8 * 500);
    EXPECT_TRUE(w.view->Prefs().DisplayGrid);
    Key(dlg, Qt::Key_Escape);
    ASSERT_EQ(w.view->FullScreen(), nullptr);
    EXPECT_TRUE(w.view->Prefs().DisplayGrid);
    EXPECT_TRUE(w.frame->Action(ID_DISPLAY_GRID)->isChecked());
    ASSERT_TRUE(w.view->DisplayBitmap());
    EXPECT_GT(greenPixels(*w.view->DisplayBitmap()), 8 * 200);
}

TEST(FullScreen, ReleaseShowsProgressThenReplacesThePicture)
{
    auto config = Window::Small();
    config.linkBytesPerSecond = 200000;  // a download that takes a moment
    Window w(config, [](Settings& s) { s.FullscreenCaption = true; });
    ASSERT_TRUE(w.Shoot());
    CFullscreenDlg* dlg = OpenFullScreen(w);
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return dlg->Image().has_value(); }, 5000));
    const std::vector<uint8_t> before = dlg->Image()->pixels;
    EXPECT_TRUE(dlg->Progress()->isHidden());
    Key(dlg, Qt::Key_F8);
    EXPECT_TRUE(w.view->Shooting());
    ASSERT_TRUE(WaitUntil([&] { return !dlg->Progress()->isHidden(); }));
    EXPECT_GT(dlg->Progress()->value(), 0);
    EXPECT_EQ(dlg->Image()->pixels, before);  // the old picture stays while downloading
    ASSERT_TRUE(WaitUntil([&] { return w.view->History().Count() == 2 && dlg->Progress()->isHidden(); }));
    ASSERT_TRUE(dlg->Image().has_value());
    EXPECT_NE(dlg->Image()->pixels, before);
    EXPECT_EQ(dlg->CaptionText(), "[2 of 2]: IMG_0002.JPG");
    // The main window did not render its own picture meanwhile; it does on leaving.
    Key(dlg, Qt::Key_F11);
    ASSERT_TRUE(w.view->DisplayBitmap());
    EXPECT_LT(w.view->DisplayBitmap()->width, 800);
}

TEST(FullScreen, BrowsingAndDeletingFromTheKeyboard)
{
    Window w;
    ASSERT_TRUE(w.Shoot());
    ASSERT_TRUE(w.Shoot());
    CFullscreenDlg* dlg = OpenFullScreen(w);
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return dlg->Image().has_value(); }, 5000));
    const std::vector<uint8_t> second = dlg->Image()->pixels;
    Key(dlg, Qt::Key_Left);
    EXPECT_EQ(dlg->CaptionText(), "[1 of 2]: IMG_0001.JPG");
    EXPECT_NE(dlg->Image()->pixels, second);
    Key(dlg, Qt::Key_Right);
    EXPECT_EQ(dlg->CaptionText(), "[2 of 2]: IMG_0002.JPG");
    EXPECT_EQ(dlg->Image()->pixels, second);
    // Held down, an arrow keeps stepping (the repeats count), except for a repeat made while
    // the last step was still running; a held F8 fires only once.
    auto repeated = [&](Qt::Key key, quint64 keyTime) {
        QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier, QString(), true);
        e.setTimestamp(keyTime);
        QCoreApplication::sendEvent(dlg, &e);
        Pump(30);
    };
    repeated(Qt::Key_Left, 1000);
    EXPECT_EQ(dlg->CaptionText(), "[1 of 2]: IMG_0001.JPG");
    repeated(Qt::Key_Left, 1000);  // queued during that step
    EXPECT_EQ(dlg->CaptionText(), "[1 of 2]: IMG_0001.JPG");
    repeated(Qt::Key_Left, 60000);
    EXPECT_EQ(dlg->CaptionText(), "[2 of 2]: IMG_0002.JPG");
    repeated(Qt::Key_F8, 61000);
    EXPECT_FALSE(w.view->Shooting());

    // Delete asks over the full-screen window, then shows the remaining picture.
    w.boxes.answers = {msgbox::Answer::Yes};
    Key(dlg, Qt::Key_Delete);
    ASSERT_FALSE(w.boxes.shown.empty());
    EXPECT_EQ(w.boxes.shown.back().owner, dlg);
    EXPECT_EQ(w.view->History().Count(), 1u);
    EXPECT_EQ(dlg->CaptionText(), "[1 of 1]: IMG_0001.JPG");
    ASSERT_TRUE(dlg->Image().has_value());
    // Deleting the last one leaves the screen black.
    Key(dlg, Qt::Key_Delete);
    EXPECT_EQ(dlg->CaptionText(), "Tethrocam");
    EXPECT_FALSE(dlg->Image().has_value());
    Key(dlg, Qt::Key_F11);
}

TEST(BlankScreen, CoversTheScreenInBlackUntilTheDownloadBegins)
{
    auto config = Window::Small();
    config.exposureMs = 400;  // time to look at the cover before the download starts
    Window w(config, [](Settings& s) { s.BlankScreenWhenTakingPhoto = true; });
    w.view->TakePicture();
    QWidget* blank = w.view->BlankWindow();
    ASSERT_NE(blank, nullptr);
    EXPECT_TRUE(blank->isVisible());
    EXPECT_EQ(blank->geometry(), w.frame->screen()->geometry());
    EXPECT_TRUE(blank->windowFlags() & Qt::WindowStaysOnTopHint);
    const QImage painted = Painted(blank);
    int lit = 0;
    for (int y = 0; y < painted.height(); y += 7)
        for (int x = 0; x < painted.width(); x += 7)
            lit += !IsBlack(painted.pixel(x, y));
    EXPECT_EQ(lit, 0);
    ASSERT_TRUE(WaitUntil([&] { return w.view->BlankWindow() == nullptr; }));
    EXPECT_TRUE(w.view->Shooting() || w.view->History().Count() == 1);  // gone as the download began
    ASSERT_TRUE(WaitUntil([&] { return w.view->History().Count() == 1 && !w.view->Shooting(); }));
}

TEST(BlankScreen, AClickRemovesItAndThePictureStillArrives)
{
    auto config = Window::Small();
    config.exposureMs = 400;
    Window w(config, [](Settings& s) { s.BlankScreenWhenTakingPhoto = true; });
    w.view->TakePicture();
    QWidget* blank = w.view->BlankWindow();
    ASSERT_NE(blank, nullptr);
    QTest::mouseClick(blank, Qt::LeftButton, {}, QPoint(100, 100));
    EXPECT_FALSE(blank->isVisible());
    ASSERT_TRUE(WaitUntil([&] { return w.view->History().Count() == 1 && !w.view->CurrentBytes().empty(); }));
    EXPECT_EQ(w.view->BlankWindow(), nullptr);

    // Over the full-screen window too: F8 there covers the screen, and a click removes it.
    CFullscreenDlg* dlg = OpenFullScreen(w);
    ASSERT_NE(dlg, nullptr);
    Key(dlg, Qt::Key_F8);
    blank = w.view->BlankWindow();
    ASSERT_NE(blank, nullptr);
    EXPECT_TRUE(blank->isVisible());
    // Through the window system, where a modal window would block a click meant for another.
    ASSERT_NE(blank->windowHandle(), nullptr);
    QTest::mouseClick(blank->windowHandle(), Qt::LeftButton, {}, QPoint(100, 100));
    Pump(30);
    EXPECT_FALSE(blank->isVisible());
    ASSERT_TRUE(WaitUntil([&] { return w.view->History().Count() == 2 && !w.view->Shooting(); }));
    EXPECT_EQ(dlg->CaptionText(), "[2 of 2]: IMG_0002.JPG");
    Key(dlg, Qt::Key_F11);
}

TEST(BlankScreen, OffShowsNothing)
{
    auto config = Window::Small();
    config.exposureMs = 200;
    Window w(config);
    w.view->TakePicture();
    bool seen = false;
    WaitUntil([&] {
        seen = seen || w.view->BlankWindow() != nullptr;
        return w.view->History().Count() == 1 && !w.view->Shooting();
    });
    EXPECT_FALSE(seen);
    EXPECT_EQ(w.view->History().Count(), 1u);
}

} // namespace
