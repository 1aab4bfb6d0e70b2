// Live view in the main window on the simulated camera, offscreen: F6 shows the stream in
// the picture area with the frame rate in the status bar; a click magnifies (the body's own
// magnification, or the frame enlarged); focus peaking in its colour, remembered; the focus
// keys and buttons in three step sizes and AF; a release shown for the review time; full
// screen; and every way live view ends. What is checked is what the window paints.
#include "liveview/LiveViewController.h"
#include "liveview/LiveViewPanel.h"
#include "app/SettingsDialogs.h"
#include "colour/DisplayTransform.h"
#include "display/ColourManagement.h"
#include "windows/CFullscreenDlg.h"
#include "windows/MainWindowHarness.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QScrollArea>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TestProfiles.h"  // tests/colour

using namespace ids;
using harness::Window;
using testsupport::Pump;
using testsupport::WaitUntil;

namespace {

constexpr uint32_t kMagenta = 0x00FF00FF;  // 0x00BBGGRR

LiveViewController& Live(Window& w)
{
    return *w.view->LiveView();
}

// Starts live view and waits until frames are on show.
bool StartLiveView(Window& w)
{
    w.frame->Command(ID_LIVE_VIEW);
    return WaitUntil([&] { return Live(w).Panel()->isVisible() && Live(w).Panel()->FramesPainted() >= 3; }, 10000);
}

// The picture the panel paints (without its strip), as 32-bit pixels.
QImage PaintedPicture(Window& w)
{
    LiveViewPanel* p = Live(w).Panel();
    const QRect r = p->PictureRect();
    return p->grab(r).toImage().convertToFormat(QImage::Format_RGB32);
}

double ShareOf(const QImage& image, const std::function<bool(QRgb)>& pick)
{
    size_t n = 0, all = 0;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2, ++all)
            n += pick(image.pixel(x, y));
    return all ? static_cast<double>(n) / all : 0;
}

bool Red(QRgb c)
{
    return qRed(c) > 150 && qGreen(c) < 110 && qBlue(c) < 110;
}

bool Magenta(QRgb c)
{
    return qRed(c) == 255 && qGreen(c) == 0 && qBlue(c) == 255;
}

// Waits for a new frame to be painted after something changed.
bool NextFrames(Window& w, int n = 3)
{
    const uint64_t before = Live(w).Panel()->FramesPainted();
    return WaitUntil([&] { return Live(w).Panel()->FramesPainted() >= before + n; }, 10000);
}

TEST(LiveViewWindow, F6ShowsTheStreamInThePictureAreaWithTheFrameRateAndEndsIt)
{
    Window w;
    EXPECT_FALSE(w.frame->Action(ID_FOCUS_NEAR_2)->isEnabled()) << "Page Down belongs to the lists until live view";
    ASSERT_TRUE(StartLiveView(w));
    EXPECT_TRUE(w.frame->Action(ID_LIVE_VIEW)->isChecked());
    EXPECT_TRUE(w.frame->Action(ID_FOCUS_NEAR_2)->isEnabled());
    EXPECT_TRUE(w.lib.State().liveView);
    // The panel fills the picture area right of the controls.
    LiveViewPanel* panel = Live(w).Panel();
    EXPECT_EQ(panel->geometry().right(), w.view->width() - 1);
    QWidget* av = w.view->Form().av;
    EXPECT_GE(panel->x(), av->mapTo(w.view, QPoint(av->width(), 0)).x()) << "the controls stay uncovered";
    const QImage picture = PaintedPicture(w);
    EXPECT_EQ(picture.width(), panel->Frame()->width());
    EXPECT_GT(ShareOf(picture, [](QRgb c) { return qRed(c) + qGreen(c) + qBlue(c) > 60; }), 0.8);
    // The body's rate, once a second's worth has come.
    ASSERT_TRUE(WaitUntil([&] { return w.frame->StatusText(1).contains("fps"); }, 5000));
    Pump(1200);
    const QRegularExpressionMatch m = QRegularExpression("Live view: ([0-9.]+) fps").match(w.frame->StatusText(1));
    ASSERT_TRUE(m.hasMatch()) << w.frame->StatusText(1).toStdString();
    EXPECT_GT(m.captured(1).toDouble(), 10);
    EXPECT_LT(m.captured(1).toDouble(), 40);

    w.frame->Command(ID_LIVE_VIEW);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(Live(w).Active());
    EXPECT_TRUE(w.frame->StatusText(1).isEmpty());
    EXPECT_FALSE(w.frame->Action(ID_LIVE_VIEW)->isChecked());
    ASSERT_TRUE(WaitUntil([&] { return !w.lib.State().liveView; }, 5000)) << "ended on the body too";
    EXPECT_TRUE(w.boxes.shown.empty());
}

TEST(LiveViewWindow, AClickMagnifiesThereThroughTheBodysOwnMagnification)
{
    Window w;
    ASSERT_TRUE(StartLiveView(w));
    LiveViewPanel* panel = Live(w).Panel();
    const QRect r = panel->PictureRect();
    // The middle of the picture: the body magnifies 5x there, then 10x, then shows it all.
    QTest::mouseClick(panel, Qt::LeftButton, {}, r.center());
    ASSERT_TRUE(WaitUntil([&] { return w.lib.State().zoom == 5; }, 5000));
    EXPECT_EQ(Live(w).Magnification(), 5);
    EXPECT_EQ(panel->findChild<QLabel*>("liveViewMagnification")->text(), "5x");
    QTest::mouseClick(panel, Qt::LeftButton, {}, r.center());
    ASSERT_TRUE(WaitUntil([&] { return w.lib.State().zoom == 10; }, 5000));
    QTest::mouseClick(panel, Qt::LeftButton, {}, r.center());
    ASSERT_TRUE(WaitUntil([&] { return w.lib.State().zoom == 1; }, 5000));
    EXPECT_EQ(panel->findChild<QLabel*>("liveViewMagnification")->text(), "Fit");
    // The right button is still the view's mouse action, not a magnification.
    QTest::mouseClick(panel, Qt::RightButton, {}, r.center());
    Pump(100);
    EXPECT_EQ(Live(w).Magnification(), 1);
}

TEST(LiveViewWindow, WithoutTheBodysMagnificationAClickEnlargesTheFrameThere)
{
    sim::SimConfig c = Window::Small();
    c.liveViewCameraZoom = false;
    Window w(c);
    ASSERT_TRUE(StartLiveView(w));
    w.frame->Command(ID_AUTOFOCUS);
    ASSERT_TRUE(WaitUntil([&] { return w.lib.State().focusPosition == w.lib.State().sharpestFocus; }, 5000));
    ASSERT_TRUE(NextFrames(w));
    LiveViewPanel* panel = Live(w).Panel();
    const QRect r = panel->PictureRect();
    const double fitted = ShareOf(PaintedPicture(w), Red);
    EXPECT_LT(fitted, 0.12);
    // The upper band of red blocks sits right of the middle, a fifth of the way down.
    const QPoint blocks(r.left() + r.width() * 80 / 100, r.top() + r.height() * 21 / 100);
    QTest::mouseClick(panel, Qt::LeftButton, {}, blocks);
    ASSERT_TRUE(NextFrames(w));
    EXPECT_EQ(Live(w).Magnification(), 5);
    EXPECT_EQ(w.lib.State().zoom, 1) << "the body was not asked";
    EXPECT_GT(ShareOf(PaintedPicture(w), Red), 0.25);  // over twice the fitted share; the scene moves
    EXPECT_EQ(PaintedPicture(w).size(), QSize(r.width(), r.height())) << "the same size, magnified";
}

TEST(LiveViewWindow, FocusPeakingMarksSharpEdgesInItsColourAndIsRemembered)
{
    Window w;
    dialogs::SetColourChooser([](QWidget*, uint32_t) { return std::optional<uint32_t>(kMagenta); });
    ASSERT_TRUE(StartLiveView(w));
    w.frame->Command(ID_AUTOFOCUS);
    ASSERT_TRUE(WaitUntil([&] { return w.lib.State().focusPosition == w.lib.State().sharpestFocus; }, 5000));
    ASSERT_TRUE(NextFrames(w));
    EXPECT_EQ(ShareOf(PaintedPicture(w), Magenta), 0.0);
    w.frame->Command(ID_PEAKING_COLOUR);
    w.frame->Command(ID_FOCUS_PEAKING);
    EXPECT_TRUE(w.frame->Action(ID_FOCUS_PEAKING)->isChecked());
    ASSERT_TRUE(NextFrames(w));
    EXPECT_GT(ShareOf(PaintedPicture(w), Magenta), 0.01);
    // Out of focus, nothing is marked.
    w.frame->Command(ID_FOCUS_FAR_3);
    ASSERT_TRUE(WaitUntil([&] { return w.lib.State().focusPosition > w.lib.State().sharpestFocus; }, 5000));
    ASSERT_TRUE(NextFrames(w));
    EXPECT_EQ(ShareOf(PaintedPicture(w), Magenta), 0.0);
    dialogs::SetColourChooser({});
    w.Close();
    w.Open();
    EXPECT_TRUE(w.view->Prefs().FocusPeaking);
    EXPECT_EQ(w.view->Prefs().FocusPeakingColour, kMagenta);
    EXPECT_TRUE(w.frame->Action(ID_FOCUS_PEAKING)->isChecked());
}

TEST(LiveViewWindow, NearAndFarDriveTheLensInThreeStepSizesAndAfStopsWhereSharpest)
{
    Window w;
    ASSERT_TRUE(StartLiveView(w));
    auto focus = [&] { return w.lib.State().focusPosition; };
    const int start = focus();  // infinity
    // The keys of the Focus menu.
    QTest::keyClick(w.view, Qt::Key_PageDown, Qt::ShiftModifier);
    ASSERT_TRUE(WaitUntil([&] { return focus() == start - 20; }, 5000)) << focus();
    QTest::keyClick(w.view, Qt::Key_PageDown);
    ASSERT_TRUE(WaitUntil([&] { return focus() == start - 25; }, 5000)) << focus();
    QTest::keyClick(w.view, Qt::Key_PageDown, Qt::ControlModifier);
    ASSERT_TRUE(WaitUntil([&] { return focus() == start - 26; }, 5000)) << focus();
    QTest::keyClick(w.view, Qt::Key_PageUp, Qt::ControlModifier);
    ASSERT_TRUE(WaitUntil([&] { return focus() == start - 25; }, 5000)) << focus();
    // The buttons under the picture.
    LiveViewPanel* panel = Live(w).Panel();
    panel->findChild<QPushButton*>("liveViewNear2")->click();
    ASSERT_TRUE(WaitUntil([&] { return focus() == start - 30; }, 5000)) << focus();
    panel->findChild<QPushButton*>("liveViewFar3")->click();
    ASSERT_TRUE(WaitUntil([&] { return focus() == start - 10; }, 5000)) << focus();
    panel->findChild<QPushButton*>("liveViewAutofocus")->click();
    ASSERT_TRUE(WaitUntil([&] { return w.frame->StatusText(0) == "Autofocus done"; }, 5000));
    EXPECT_EQ(focus(), w.lib.State().sharpestFocus);
    // At the end of the travel the status bar says so.
    for (int i = 0; i < 8; ++i)
        w.frame->Command(ID_FOCUS_FAR_3);
    ASSERT_TRUE(WaitUntil([&] { return w.frame->StatusText(0).contains("infinity"); }, 5000))
        << w.frame->StatusText(0).toStdString();
    w.lib.FailNextAutofocus();
    w.frame->Command(ID_AUTOFOCUS);
    ASSERT_TRUE(WaitUntil([&] { return w.frame->StatusText(0).contains("found nothing"); }, 5000));
}

TEST(LiveViewWindow, AReleaseShowsThePictureForTheReviewTimeThenLiveViewReturns)
{
    Window w(Window::Small(), [](Settings& s) { s.LiveViewReviewTime = 1; });
    ASSERT_TRUE(StartLiveView(w));
    ASSERT_TRUE(w.Shoot());
    EXPECT_TRUE(Live(w).Reviewing());
    EXPECT_FALSE(Live(w).Panel()->isVisible());
    EXPECT_TRUE(w.view->Picture()->isVisible());
    ASSERT_EQ(w.view->History().Count(), 1u);
    EXPECT_TRUE(std::filesystem::exists(w.view->History().Current()->Path()));
    // Back to live view after the review time, frames flowing again.
    ASSERT_TRUE(WaitUntil([&] { return !Live(w).Reviewing() && Live(w).Panel()->isVisible(); }, 5000));
    ASSERT_TRUE(NextFrames(w));
    EXPECT_TRUE(w.boxes.shown.empty());
}

TEST(LiveViewWindow, AReviewTimeOfNoneKeepsLiveViewRunningThroughTheShot)
{
    Window w(Window::Small(), [](Settings& s) { s.LiveViewReviewTime = 0; });
    ASSERT_TRUE(StartLiveView(w));
    bool hidden = false;
    const size_t before = w.view->History().Count();
    w.view->TakePicture();
    ASSERT_TRUE(WaitUntil([&] {
        hidden = hidden || !Live(w).Panel()->isVisible() || Live(w).Reviewing();
        return w.view->History().Count() > before && !w.view->Shooting();
    }));
    EXPECT_FALSE(hidden);
    ASSERT_TRUE(NextFrames(w));
    EXPECT_GT(Live(w).Stats()->busyAnswers, 0u) << "the picture's road came first";
}

TEST(LiveViewWindow, LiveViewEndsWhenTheBodyEndsItOnDisconnectAndWhenTheCameraGoes)
{
    Window w;
    ASSERT_TRUE(StartLiveView(w));
    w.lib.EndLiveViewFromBody();
    ASSERT_TRUE(WaitUntil([&] { return !Live(w).Active(); }, 5000));
    ASSERT_TRUE(WaitUntil([&] { return !w.boxes.shown.empty(); }, 5000));
    EXPECT_EQ(w.boxes.LastText(), "Live view ended by the camera");
    EXPECT_FALSE(w.boxes.shown.back().detail.isEmpty());
    EXPECT_FALSE(Live(w).Panel()->isVisible());

    ASSERT_TRUE(StartLiveView(w));
    w.frame->Command(ID_CONNECT);  // disconnect
    EXPECT_FALSE(Live(w).Active());
    EXPECT_EQ(w.view->Camera(), nullptr);
    EXPECT_FALSE(Live(w).Panel()->isVisible());
    EXPECT_EQ(w.boxes.shown.size(), 1u);

    w.frame->Command(ID_CONNECT);
    ASSERT_NE(w.view->Camera(), nullptr);
    ASSERT_TRUE(StartLiveView(w));
    w.lib.Unplug();
    ASSERT_TRUE(WaitUntil([&] { return !Live(w).Active() && w.view->Camera() == nullptr; }, 5000));
    EXPECT_FALSE(Live(w).Panel()->isVisible());
}

TEST(LiveViewWindow, FullScreenShowsTheStreamAndItsKeysWork)
{
    Window w;
    ASSERT_TRUE(StartLiveView(w));
    w.frame->Command(ID_FULL_SCREEN);
    CFullscreenDlg* dlg = w.view->FullScreen();
    ASSERT_NE(dlg, nullptr);
    // Fitted to the screen: as wide or as high as it.
    ASSERT_TRUE(WaitUntil(
        [&] {
            return dlg->ShowingLive() && !dlg->LiveImage().isNull() &&
                   (dlg->LiveImage().width() == dlg->width() || dlg->LiveImage().height() == dlg->height());
        },
        5000));
    const int focus = w.lib.State().focusPosition;
    QTest::keyClick(dlg, Qt::Key_PageDown);
    ASSERT_TRUE(WaitUntil([&] { return w.lib.State().focusPosition == focus - 5; }, 5000));
    // A click on the picture magnifies there.
    const QSize shown = dlg->LiveImage().size();
    const QPoint at = CFullscreenDlg::PicturePosition(dlg->width(), dlg->height(), shown.width(), shown.height());
    QTest::mouseClick(dlg, Qt::LeftButton, {}, at + QPoint(shown.width() / 2, shown.height() / 2));
    ASSERT_TRUE(WaitUntil([&] { return w.lib.State().zoom == 5; }, 5000));
    QTest::keyClick(dlg, Qt::Key_F6);
    EXPECT_FALSE(Live(w).Active());
    EXPECT_FALSE(dlg->ShowingLive());
    QTest::keyClick(dlg, Qt::Key_Escape);
    Pump(50);
    EXPECT_EQ(w.view->FullScreen(), nullptr);
}

TEST(LiveViewWindow, ABodyWithoutLiveViewSaysSo)
{
    sim::SimConfig c = Window::Small();
    c.liveView = false;
    Window w(c);
    w.frame->Command(ID_LIVE_VIEW);
    EXPECT_FALSE(Live(w).Active());
    ASSERT_FALSE(w.boxes.shown.empty());
    EXPECT_EQ(w.boxes.LastText(), "This camera has no live view");
    EXPECT_FALSE(w.frame->Action(ID_LIVE_VIEW)->isChecked());
}

}  // namespace

// Frames are sRGB; on a wide-gamut monitor they are shown in its colours, exactly as the
// transform gives them (the same still frame painted for an sRGB monitor, transformed).
TEST(LiveViewWindow, FramesAreShownInTheColoursOfTheMonitor)
{
    sim::SimConfig c = Window::Small();
    c.liveViewMoving = false;
    Window w(c, [](Settings& s) {
        s.DisplayGrid = false;
        s.DisplayFocusPoints = false;
    });
    auto& cm = display::ColourManagement::Instance();
    display::ColourSettings srgb;
    srgb.monitor = display::MonitorProfileChoice::Srgb;
    ASSERT_EQ(cm.Configure(srgb), "");
    ASSERT_TRUE(StartLiveView(w));
    ASSERT_TRUE(NextFrames(w));
    const QImage asSent = PaintedPicture(w);

    testsupport::TempDir dir;
    const auto file = dir.Path() / "wide.icc";
    const testprofiles::Bytes wide = testprofiles::WideGamutMonitor();
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(wide.data()),
                                                static_cast<std::streamsize>(wide.size()));
    display::ColourSettings onWide;
    onWide.monitor = display::MonitorProfileChoice::File;
    onWide.file = file.string();
    ASSERT_EQ(cm.Configure(onWide), "");
    ASSERT_TRUE(NextFrames(w));
    const QImage shown = PaintedPicture(w);
    cm.Configure({});

    ASSERT_EQ(shown.size(), asSent.size());
    auto t = colour::DisplayTransform::Make(colour::Profile::Srgb(), *colour::Profile::FromIcc(wide),
                                            colour::RenderingIntent::Perceptual, colour::PixelOrder::Bgrx);
    ASSERT_TRUE(t);
    QImage expected = asSent.copy();
    t->Apply(expected.bits(), expected.width(), expected.height(), static_cast<size_t>(expected.bytesPerLine()));
    int worst = 0, changed = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) {
            const QRgb a = shown.pixel(x, y), b = expected.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                              std::abs(qBlue(a) - qBlue(b))});
            changed += a != asSent.pixel(x, y);
        }
    EXPECT_EQ(worst, 0);
    EXPECT_GT(changed, shown.width() * shown.height() / 4) << "the wide-gamut monitor changes most colours";
}
