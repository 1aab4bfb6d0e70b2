// What the user judges colour on is in the monitor's colours: the main window's picture,
// full screen and the 1:1 preview; the readout keeps the picture's own values. The
// monitor profile here is a wide-gamut profile file chosen as in Preferences.
#include "MainWindowHarness.h"
#include "backends/sim/SimPictures.h"
#include "colour/DisplayTransform.h"
#include "display/ColourManagement.h"
#include "imaging/JpegDecoder.h"
#include "windows/CFullscreenDlg.h"
#include "windows/CImagePreviewDlg.h"

#include "TestPictures.h"  // tests/imaging
#include "TestProfiles.h"  // tests/colour

#include <QLabel>
#include <QMouseEvent>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <fstream>

using testprofiles::Bytes;

namespace {

std::vector<uint8_t> AdobeRgbPicture(int width, int height)
{
    sim::SimPictureParams p;
    p.width = width;
    p.height = height;
    p.adobeRgb = true;
    return sim::MakeSimJpeg(p);
}

// Chooses a wide-gamut monitor profile file for as long as it lives, as Preferences would
// (after the main window, which applies its own settings when it starts); System afterwards.
struct WideGamutMonitor {
    WideGamutMonitor()
    {
        testsupport::App();
        const Bytes icc = testprofiles::WideGamutMonitor();
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(icc.data()),
                                                    static_cast<std::streamsize>(icc.size()));
        display::ColourSettings s;
        s.monitor = display::MonitorProfileChoice::File;
        s.file = file.string();
        EXPECT_EQ(display::ColourManagement::Instance().Configure(s), "");
        toMonitor = colour::DisplayTransform::Make(colour::Profile::AdobeRgb(), *colour::Profile::FromIcc(icc),
                                                   colour::RenderingIntent::Perceptual);
    }
    ~WideGamutMonitor() { display::ColourManagement::Instance().Configure({}); }
    // The pixel (blue, green, red) as the monitor gets it.
    QRgb Shown(const uint8_t* bgr) const
    {
        uint8_t px[3] = {bgr[0], bgr[1], bgr[2]};
        toMonitor->Apply(px, 1, 1, 3);
        return qRgb(px[2], px[1], px[0]);
    }
    testsupport::TempDir dir;
    std::filesystem::path file = dir.Path() / "wide.icc";
    std::shared_ptr<const colour::DisplayTransform> toMonitor;
};

const uint8_t* At(const Bitmap& b, int x, int y)
{
    return b.Row(y) + 3 * x;
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

TEST(ColourDisplay, TheMainWindowShowsMonitorColoursAndReadsOutThePicturesOwnValues)
{
    harness::Window w;  // takes the monitor choice of its settings: System
    WideGamutMonitor monitor;
    ShowPicture(w.view, AdobeRgbPicture(480, 320));
    ASSERT_TRUE(w.view->DisplayBitmap() && w.view->ShownBitmap());
    const Bitmap& values = *w.view->DisplayBitmap();
    const QImage painted = harness::Painted(w.view->Picture());
    for (QPoint p : {QPoint(20, 20), QPoint(300, 60), QPoint(200, 250)})
        EXPECT_EQ(painted.pixel(p), monitor.Shown(At(values, p.x(), p.y()))) << p.x() << "," << p.y();

    const QPoint at(300, 60);
    QMouseEvent move(QEvent::MouseMove, QPointF(at), w.view->Picture()->mapToGlobal(QPointF(at)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w.view->Picture(), &move);
    const uint8_t* own = At(values, at.x(), at.y());
    EXPECT_EQ(w.view->Form().rgbReadout->text(), QString::asprintf("RGB: %3d,%3d,%3d", own[2], own[1], own[0]));

    // Back to sRGB on both sides: nothing is transformed, nothing extra is kept.
    display::ColourManagement::Instance().Configure({});
    ShowPicture(w.view, testpictures::EncodeJpeg(testpictures::PhotoLikeScene(300, 200)));
    EXPECT_TRUE(w.view->DisplayBitmap());
    EXPECT_FALSE(w.view->ShownBitmap());
}

TEST(ColourDisplay, FullScreenShowsMonitorColours)
{
    harness::Window w;  // takes the monitor choice of its settings: System
    WideGamutMonitor monitor;
    ShowPicture(w.view, AdobeRgbPicture(480, 320));
    CFullscreenDlg dlg(w.view, false);
    dlg.resize(640, 480);
    dlg.show();
    testsupport::Pump(50);
    dlg.Render();
    ASSERT_TRUE(dlg.Image());
    ImageHistogram h;
    const auto values = DecodeToBitmap(w.view->CurrentBytes().data(), w.view->CurrentBytes().size(), h, 0, 640, 480,
                                       false);
    ASSERT_TRUE(values && values->width == dlg.Image()->width);
    for (QPoint p : {QPoint(10, 10), QPoint(400, 100)}) {
        const uint8_t* got = At(*dlg.Image(), p.x(), p.y());
        EXPECT_EQ(qRgb(got[2], got[1], got[0]), monitor.Shown(At(*values, p.x(), p.y())));
    }
}

// The preview turns only what it shows into the monitor's colours; the rest follows as it
// comes into view. A new monitor profile shows the picture again in the new colours.
TEST(ColourDisplay, ThePreviewTurnsWhatComesIntoViewIntoMonitorColours)
{
    harness::Window w;  // takes the monitor choice of its settings: System
    WideGamutMonitor monitor;
    const std::vector<uint8_t> jpeg = AdobeRgbPicture(1600, 1200);
    const Bitmap values = DecodeFullSize(jpeg.data(), jpeg.size(), 0);
    CImagePreviewDlg preview(w.view);
    preview.Show(nullptr, 0, 0);
    preview.resize(QSize(400, 300) + (preview.size() - preview.ClientSize()));
    testsupport::Pump(50);
    preview.Show(jpeg.data(), jpeg.size(), 0);
    testsupport::Pump(50);
    ASSERT_TRUE(preview.Picture());
    const QPoint scroll = preview.ScrollPosition();
    const int cx = scroll.x() + preview.ClientSize().width() / 2, cy = scroll.y() + preview.ClientSize().height() / 2;
    const uint8_t* centre = At(*preview.Picture(), cx, cy);
    EXPECT_EQ(qRgb(centre[2], centre[1], centre[0]), monitor.Shown(At(values, cx, cy)));
    // A far corner not yet in view keeps the decoded values until it is shown.
    EXPECT_FALSE(preview.AllInMonitorColours());
    EXPECT_EQ(0, std::memcmp(At(*preview.Picture(), 1590, 1190), At(values, 1590, 1190), 3));
    preview.horizontalScrollBar()->setValue(preview.horizontalScrollBar()->maximum());
    preview.verticalScrollBar()->setValue(preview.verticalScrollBar()->maximum());
    preview.viewport()->repaint();
    const uint8_t* corner = At(*preview.Picture(), 1590, 1190);
    EXPECT_EQ(qRgb(corner[2], corner[1], corner[0]), monitor.Shown(At(values, 1590, 1190)));
    EXPECT_EQ(harness::Painted(preview.viewport()).pixel(preview.ClientSize().width() - 10,
                                                           preview.ClientSize().height() - 10),
              monitor.Shown(At(values, 1590, 1190)));

    display::ColourManagement::Instance().Configure({});  // sRGB: the picture comes again
    testsupport::Pump(50);
    const uint8_t* again = At(*preview.Picture(), 1590, 1190);
    uint8_t expected[3] = {At(values, 1590, 1190)[0], At(values, 1590, 1190)[1], At(values, 1590, 1190)[2]};
    colour::DisplayTransform::Make(colour::Profile::AdobeRgb(), colour::Profile::Srgb(),
                                   colour::RenderingIntent::Perceptual)
        ->Apply(expected, 1, 1, 3);
    preview.viewport()->repaint();
    EXPECT_EQ(0, std::memcmp(again, expected, 3));
}

// A profile file chosen earlier and gone since: said in the status bar when the program
// starts; the pictures are shown for the desktop's profile meanwhile.
TEST(ColourDisplay, AProfileFileThatIsGoneIsSaidWhenTheProgramStarts)
{
    testsupport::TempDir dir;
    const std::string gone = (dir.Path() / "gone.icc").string();
    harness::Window w(harness::Window::Small(), [&](Settings& s) {
        s.MonitorProfile = 2;
        s.MonitorProfileFile = gone;
    });
    EXPECT_TRUE(w.frame->StatusText().startsWith(QString::fromStdString("The monitor profile " + gone +
                                                                        " cannot be used: the file cannot be opened.")))
        << w.frame->StatusText().toStdString();
    EXPECT_EQ(display::ColourManagement::Instance().MonitorProfile(w.view).Name(), "sRGB");
    display::ColourManagement::Instance().Configure({});
}
