// The 1:1 preview window, offscreen: where it opens on a picture, what it paints, how the
// scroll bars, the wheel and dragging move it, how it keeps the centre point when a picture
// of another size comes, what a damaged picture does; and, on the simulated camera, F7,
// its shooting keys, and hiding with the minimised main window.
#include "MainWindowHarness.h"

#include "TestPictures.h"  // tests/imaging
#include "windows/CImagePreviewDlg.h"

#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <QWindow>

#include <gtest/gtest.h>

using namespace ids;
using harness::Painted;
using harness::Window;
using testsupport::Pump;
using testsupport::WaitUntil;

namespace {

std::vector<uint8_t> Jpeg(int w, int h)
{
    return testpictures::EncodeJpeg(testpictures::PhotoLikeScene(w, h), testpictures::JpegOptions{85, 2, 1, false});
}

const std::vector<uint8_t>& Camera3072()
{
    static const std::vector<uint8_t> bytes = Jpeg(3072, 2048);
    return bytes;
}

// A shown preview with a client area of the given size and no picture yet.
struct Preview {
    explicit Preview(QSize client)
    {
        dlg.Show(nullptr, 0, 0);
        Pump(20);
        dlg.resize(client + (dlg.size() - dlg.ClientSize()));
        WaitUntil([&] { return dlg.ClientSize() == client; }, 2000);
    }
    QPoint Pos() const { return dlg.ScrollPosition(); }
    void Set(const std::vector<uint8_t>& jpeg, int rotation = 0) { dlg.SetPicture(jpeg.data(), jpeg.size(), rotation); }
    bool app = (testsupport::App(), true);  // before any widget
    CImagePreviewDlg dlg{nullptr};
};

QRgb BitmapPixel(const Bitmap& b, int x, int y)
{
    const uint8_t* p = b.Row(y) + 3 * x;
    return qRgb(p[2], p[1], p[0]);
}

void Wheel(QWidget* target, int delta)
{
    const QPointF at(100, 100);
    QWheelEvent e(at, target->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(target, &e);
}

void Mouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButtons held)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, QPointF(at), target->mapToGlobal(QPointF(at)), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &e);
}

TEST(ImagePreview, OpensCentredOnTheMiddleOfACameraPicture)
{
    Preview p(QSize(600, 400));
    p.Set(Camera3072());
    ASSERT_TRUE(p.dlg.Picture().has_value());
    EXPECT_EQ(p.dlg.windowTitle(), "Image Preview (3072x2048)");
    EXPECT_EQ(p.Pos(), QPoint((3072 - 600) / 2, (2048 - 400) / 2));
    // What is painted is the picture's middle, one image pixel per screen pixel.
    const QImage painted = Painted(p.dlg.viewport());
    const Bitmap& b = *p.dlg.Picture();
    int wrong = 0;
    for (int y = 0; y < 400; y += 13)
        for (int x = 0; x < 600; x += 11)
            wrong += painted.pixel(x, y) != BitmapPixel(b, 1236 + x, 824 + y);
    EXPECT_EQ(wrong, 0);
}

TEST(ImagePreview, QuarterTurnSwapsTheSizeInTheCaption)
{
    Preview p(QSize(600, 400));
    p.Set(Camera3072(), 90);
    EXPECT_EQ(p.dlg.windowTitle(), "Image Preview (2048x3072)");
    ASSERT_TRUE(p.dlg.Picture().has_value());
    EXPECT_EQ(p.dlg.Picture()->width, 2048);
    EXPECT_EQ(p.dlg.verticalScrollBar()->maximum(), 3072 - 400);
}

TEST(ImagePreview, KeepsThePointAtTheCentreWhenThePictureSizeChanges)
{
    Preview p(QSize(600, 400));
    p.Set(Jpeg(1536, 1024));  // a small preview picture first
    EXPECT_EQ(p.Pos(), QPoint(468, 312));
    p.dlg.horizontalScrollBar()->setValue(700);
    p.dlg.verticalScrollBar()->setValue(500);
    // Centre point (1000, 700) of 1536 x 1024: the same relative point of 3072 x 2048 is
    // (2000, 1400), so the window moves to (1700, 1200).
    p.Set(Camera3072());
    EXPECT_EQ(p.Pos(), QPoint(1700, 1200));
    const QImage painted = Painted(p.dlg.viewport());
    EXPECT_EQ(painted.pixel(300, 200), BitmapPixel(*p.dlg.Picture(), 2000, 1400));
}

TEST(ImagePreview, PictureSmallerThanTheWindowIsCentredAndDoesNotScroll)
{
    Preview p(QSize(600, 400));
    p.Set(Jpeg(200, 100));
    EXPECT_EQ(p.dlg.horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(p.dlg.verticalScrollBar()->maximum(), 0);
    const Bitmap& b = *p.dlg.Picture();
    const QImage painted = Painted(p.dlg.viewport());
    const QRgb background = p.dlg.palette().color(QPalette::Window).rgb();
    EXPECT_EQ(painted.pixel(200, 150), BitmapPixel(b, 0, 0));
    EXPECT_EQ(painted.pixel(399, 249), BitmapPixel(b, 199, 99));
    EXPECT_EQ(painted.pixel(199, 150), background);
    EXPECT_EQ(painted.pixel(200, 149), background);
    EXPECT_EQ(painted.pixel(400, 250), background);
    Wheel(p.dlg.viewport(), -240);
    Mouse(p.dlg.viewport(), QEvent::MouseButtonPress, {300, 200}, Qt::LeftButton);
    Mouse(p.dlg.viewport(), QEvent::MouseMove, {200, 100}, Qt::LeftButton);
    Mouse(p.dlg.viewport(), QEvent::MouseButtonRelease, {200, 100}, Qt::NoButton);
    EXPECT_EQ(p.Pos(), QPoint(0, 0));
}

TEST(ImagePreview, WheelMovesSixtyPixelsPerWholeNotch)
{
    Preview p(QSize(600, 400));
    p.Set(Camera3072());
    const QPoint start = p.Pos();
    Wheel(p.dlg.viewport(), -60);  // half a notch
    EXPECT_EQ(p.Pos(), start);
    Wheel(p.dlg.viewport(), -120);
    EXPECT_EQ(p.Pos(), start + QPoint(0, 60));
    Wheel(p.dlg.viewport(), 360);
    EXPECT_EQ(p.Pos(), start + QPoint(0, -120));
    Wheel(p.dlg.viewport(), 120 * 100);  // clamped at the top
    EXPECT_EQ(p.Pos().y(), 0);
}

TEST(ImagePreview, ScrollBarLinesPagesAndEnds)
{
    Preview p(QSize(600, 400));
    p.Set(Camera3072());
    QScrollBar* h = p.dlg.horizontalScrollBar();
    QScrollBar* v = p.dlg.verticalScrollBar();
    h->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(p.Pos().x(), 1236 + 10);
    h->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(p.Pos().x(), 1246 + 480);  // four fifths of 600
    v->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(p.Pos().y(), 824 - 320);
    for (int i = 0; i < 10; ++i)
        h->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(p.Pos().x(), 3072 - 600);  // the last page ends at the picture's edge
    const QImage painted = Painted(p.dlg.viewport());
    EXPECT_EQ(painted.pixel(599, 0), BitmapPixel(*p.dlg.Picture(), 3071, p.Pos().y()));
}

TEST(ImagePreview, DraggingPansWithTheMoveCursor)
{
    Preview p(QSize(600, 400));
    p.Set(Camera3072());
    QWidget* vp = p.dlg.viewport();
    const Qt::CursorShape before = vp->cursor().shape();
    Mouse(vp, QEvent::MouseButtonPress, {300, 200}, Qt::LeftButton);
    EXPECT_EQ(vp->cursor().shape(), Qt::SizeAllCursor);
    Mouse(vp, QEvent::MouseMove, {250, 180}, Qt::LeftButton);
    EXPECT_EQ(p.Pos(), QPoint(1236 + 50, 824 + 20));  // the picture follows the mouse
    Mouse(vp, QEvent::MouseMove, {260, 190}, Qt::LeftButton);
    EXPECT_EQ(p.Pos(), QPoint(1276, 834));
    Mouse(vp, QEvent::MouseButtonRelease, {260, 190}, Qt::NoButton);
    EXPECT_EQ(vp->cursor().shape(), before);
    Mouse(vp, QEvent::MouseMove, {0, 0}, Qt::NoButton);
    EXPECT_EQ(p.Pos(), QPoint(1276, 834));
    const QImage painted = Painted(vp);
    EXPECT_EQ(painted.pixel(10, 10), BitmapPixel(*p.dlg.Picture(), 1286, 844));
}

TEST(ImagePreview, DamagedPictureLeavesTheWindowEmptyWithTheErrorInItsCaption)
{
    Preview p(QSize(600, 400));
    const std::vector<uint8_t> notJpeg = {'I', 'I', 42, 0, 8, 0, 0, 0};
    p.dlg.SetPicture(notJpeg.data(), notJpeg.size(), 0);
    EXPECT_FALSE(p.dlg.Picture().has_value());
    EXPECT_EQ(p.dlg.windowTitle(), "Image Preview - Error reading JPEG: Not a JPEG file: starts with 0x49 0x49");
    const QImage painted = Painted(p.dlg.viewport());
    EXPECT_EQ(painted.pixel(300, 200), p.dlg.palette().color(QPalette::Window).rgb());
    std::vector<uint8_t> cut = Jpeg(400, 300);
    cut.resize(cut.size() / 2);
    p.Set(cut);
    EXPECT_FALSE(p.dlg.Picture().has_value());
    EXPECT_TRUE(p.dlg.windowTitle().startsWith("Image Preview - Error reading JPEG: ")) << p.dlg.windowTitle().toStdString();
    p.Set(Jpeg(400, 300));  // the next good picture shows as usual
    EXPECT_EQ(p.dlg.windowTitle(), "Image Preview (400x300)");
}

TEST(ImagePreview, TheSamePictureAgainIsNotDecodedAgain)
{
    Preview p(QSize(600, 400));
    const auto jpeg = Jpeg(400, 300);
    p.Set(jpeg);
    ASSERT_TRUE(p.dlg.Picture().has_value());
    const uint8_t* pixels = p.dlg.Picture()->pixels.data();
    const std::vector<uint8_t> copy = jpeg;  // the same bytes elsewhere: the same picture
    p.Set(copy);
    EXPECT_EQ(p.dlg.Picture()->pixels.data(), pixels);
    p.Set(copy, 90);  // turned: decoded again
    ASSERT_TRUE(p.dlg.Picture().has_value());
    EXPECT_EQ(p.dlg.Picture()->width, 300);
    // A different picture is decoded (here: the same scene with a white corner).
    auto scene = testpictures::PhotoLikeScene(400, 300);
    for (int y = 0; y < 16; ++y)
        std::fill_n(scene.pixels.begin() + static_cast<ptrdiff_t>(y) * 400 * 3, 16 * 3, uint8_t{255});
    const auto other = testpictures::EncodeJpeg(scene, testpictures::JpegOptions{85, 2, 1, false});
    p.Set(copy);
    const QRgb before = BitmapPixel(*p.dlg.Picture(), 4, 4);
    EXPECT_LT(qRed(before) + qGreen(before) + qBlue(before), 3 * 200);
    p.Set(other);
    ASSERT_TRUE(p.dlg.Picture().has_value());
    const QRgb corner = BitmapPixel(*p.dlg.Picture(), 4, 4);
    EXPECT_GT(qRed(corner) + qGreen(corner) + qBlue(corner), 3 * 240);
}

TEST(ImagePreview, DecodesNothingWhileNotShown)
{
    testsupport::App();
    CImagePreviewDlg dlg(nullptr);
    const auto small = Jpeg(200, 100);
    dlg.SetPicture(small.data(), small.size(), 0);
    EXPECT_FALSE(dlg.Picture().has_value());
    dlg.Show(small.data(), small.size(), 0);
    ASSERT_TRUE(dlg.Picture().has_value());
    QTest::keyClick(&dlg, Qt::Key_F7);  // F7 in the preview closes it
    ASSERT_TRUE(WaitUntil([&] { return !dlg.isVisible(); }, 2000));
    EXPECT_FALSE(dlg.IsShown());
    const auto other = Jpeg(300, 100);
    dlg.SetPicture(other.data(), other.size(), 0);
    ASSERT_TRUE(dlg.Picture().has_value());
    EXPECT_EQ(dlg.Picture()->width, 200);  // kept, not decoded again
}

TEST(ImagePreview, ViewImageFromTheMainWindowAndShootingFromThePreview)
{
    Window w;
    CImagePreviewDlg* preview = w.view->Preview();
    ASSERT_NE(preview, nullptr);
    w.frame->Command(ID_VIEW_IMAGE);  // no picture yet: nothing happens
    EXPECT_FALSE(preview->IsShown());
    EXPECT_FALSE(preview->isVisible());
    ASSERT_TRUE(w.Shoot());
    EXPECT_FALSE(preview->Picture().has_value());  // closed previews cost nothing
    w.frame->Command(ID_VIEW_IMAGE);
    EXPECT_TRUE(preview->IsShown());
    EXPECT_TRUE(preview->isVisible());
    ASSERT_TRUE(preview->Picture().has_value());
    EXPECT_EQ(preview->windowTitle(), "Image Preview (960x640)");
    EXPECT_TRUE(preview->Topmost());
    ASSERT_NE(preview->windowHandle(), nullptr);
    EXPECT_TRUE(preview->windowHandle()->flags() & Qt::WindowStaysOnTopHint);
    // Another window takes the keyboard: the preview stops floating; back again: it floats.
    preview->MainWindowActivation(false);
    EXPECT_FALSE(preview->windowHandle()->flags() & Qt::WindowStaysOnTopHint);
    preview->MainWindowActivation(true);
    EXPECT_TRUE(preview->Topmost());

    const std::vector<uint8_t> first = preview->Picture()->pixels;
    QTest::keyClick(preview, Qt::Key_F8);
    EXPECT_TRUE(w.view->Shooting());
    ASSERT_TRUE(WaitUntil([&] { return w.view->History().Count() == 2 && !w.view->Shooting(); }));
    Pump(50);
    ASSERT_TRUE(preview->Picture().has_value());
    EXPECT_NE(preview->Picture()->pixels, first);  // the new picture, decoded at once

    // The main window's own keys do nothing here: Ctrl+G does not toggle the grid.
    QTest::keyClick(preview, Qt::Key_G, Qt::ControlModifier);
    EXPECT_FALSE(w.view->Prefs().DisplayGrid);
    QTest::keyClick(preview, Qt::Key_F7);
    ASSERT_TRUE(WaitUntil([&] { return !preview->isVisible(); }, 2000));
    EXPECT_FALSE(preview->IsShown());
}

// Its only picture deleted, the window shows nothing of it: neither its size in the
// caption nor scroll bars to move it.
TEST(ImagePreview, DeletingTheOnlyPictureLeavesNoSizeAndNothingToScroll)
{
    Window w(Window::Small());
    ASSERT_TRUE(w.Shoot());
    CImagePreviewDlg* preview = w.view->Preview();
    w.frame->Command(ID_VIEW_IMAGE);
    preview->resize(400, 300);
    Pump(30);
    ASSERT_EQ(preview->windowTitle(), "Image Preview (960x640)");
    ASSERT_GT(preview->horizontalScrollBar()->maximum(), 0);
    w.frame->Command(ID_DELETE_IMAGE);  // answered Yes
    EXPECT_EQ(w.view->History().Count(), 0u);
    EXPECT_EQ(preview->windowTitle(), "Image Preview");
    EXPECT_FALSE(preview->Picture().has_value());
    EXPECT_EQ(preview->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(preview->verticalScrollBar()->maximum(), 0);
    // The next picture opens centred again.
    ASSERT_TRUE(w.Shoot());
    EXPECT_EQ(preview->windowTitle(), "Image Preview (960x640)");
    EXPECT_EQ(preview->ScrollPosition(), QPoint((960 - preview->ClientSize().width()) / 2,
                                                (640 - preview->ClientSize().height()) / 2));
}

TEST(ImagePreview, MinimisingTheMainWindowHidesItAndRestoringShowsIt)
{
    Window w;
    ASSERT_TRUE(w.Shoot());
    CImagePreviewDlg* preview = w.view->Preview();
    w.frame->Command(ID_VIEW_IMAGE);
    ASSERT_TRUE(preview->isVisible());
    w.frame->showMinimized();
    Pump(30);
    EXPECT_FALSE(preview->isVisible());
    EXPECT_TRUE(preview->IsShown());
    w.frame->showNormal();
    Pump(30);
    EXPECT_TRUE(preview->isVisible());
    EXPECT_TRUE(preview->Topmost());
    // Closed, it stays closed through a minimise and restore.
    preview->close();
    w.frame->showMinimized();
    Pump(30);
    w.frame->showNormal();
    Pump(30);
    EXPECT_FALSE(preview->isVisible());
}

} // namespace
