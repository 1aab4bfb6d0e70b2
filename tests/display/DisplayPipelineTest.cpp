// The main view's display pipeline: rotation choice, free box, placement, and
// MakeDisplayBitmap's order of work and failure reporting.
#include "colour/DisplayTransform.h"
#include "display/BitmapImage.h"
#include "display/DisplayPipeline.h"
#include "display/Highlights.h"
#include "imaging/ImageInfo.h"
#include "imaging/JpegDecoder.h"
#include "imaging/TestPictures.h"
#include "support/TestSupport.h"
#include "TestProfiles.h"  // tests/colour

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <vector>

using namespace display;

namespace {

ImageInfo WithRotation(int degrees)
{
    ImageInfo info;
    info.SetRotation(degrees);
    return info;
}

// A little-endian TIFF directory holding only a Model text, as the Exif reader sees it.
ImageInfo WithModel(const std::string& model)
{
    std::vector<uint8_t> t = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0,   // header, 1 entry
                              0x10, 0x01, 2, 0};                     // Model, ASCII
    const uint32_t count = static_cast<uint32_t>(model.size() + 1);
    for (int i = 0; i < 4; ++i)
        t.push_back(static_cast<uint8_t>(count >> (8 * i)));
    for (uint8_t b : {26, 0, 0, 0, 0, 0, 0, 0})                      // text offset, next IFD
        t.push_back(b);
    t.insert(t.end(), model.begin(), model.end());
    t.push_back(0);
    ImageInfo info;
    info.ParseTiffHeaderInfo(t.data(), t.size());
    return info;
}

// Stands in for the decoder: records what it was asked, returns a picture of one colour
// at the box size (turned boxes give a portrait picture, as the real decoder's would).
struct FakeDecoder {
    int calls = 0;
    int rotation = -1;
    int boxWidth = -1, boxHeight = -1;
    bool blackAndWhite = false;
    uint8_t r = 40, g = 50, b = 60;
    std::function<void()> fail;

    DecodeFunction Fn()
    {
        return [this](const uint8_t*, size_t, ImageHistogram& h, int rot, int bw, int bh,
                      bool grey) -> std::optional<Bitmap> {
            ++calls;
            rotation = rot, boxWidth = bw, boxHeight = bh, blackAndWhite = grey;
            if (fail)
                fail();
            Bitmap bm = MakeBitmap(bw, bh);
            QImage img = WrapBitmap(bm);
            if (!img.isNull())
                img.fill(QColor(r, g, b));
            h.Clear();
            h.Add(r, g, b);
            return bm;
        };
    }
};

const std::vector<uint8_t> kBytes = {0xFF, 0xD8, 0xFF, 0xD9};

DisplaySource Source(const ImageInfo* current = nullptr, const ImageInfo* history = nullptr)
{
    DisplaySource s;
    s.data = kBytes.data();
    s.length = kBytes.size();
    s.currentInfo = current;
    s.historyPicture = history;
    return s;
}

QColor At(const Bitmap& bm, int x, int y)
{
    const uint8_t* p = bm.Row(y) + x * 3;
    return QColor(p[2], p[1], p[0]);
}

} // namespace

// ---------------------------------------------------------------- rotation choice

TEST(DisplayRotation, FollowsTheOrientationSettingTable)
{
    const ImageInfo sensor90 = WithRotation(90);
    EXPECT_EQ(RotationForSetting(0, &sensor90), 0);
    EXPECT_EQ(RotationForSetting(1, &sensor90), 270);
    EXPECT_EQ(RotationForSetting(2, &sensor90), 90);
    EXPECT_EQ(RotationForSetting(3, &sensor90), 180);
    EXPECT_EQ(RotationForSetting(4, &sensor90), 90);
    // "Use Orientation Sensor" without a record shows the picture unrotated.
    EXPECT_EQ(RotationForSetting(4, nullptr), 0);
    // Out-of-range settings give 0.
    EXPECT_EQ(RotationForSetting(7, &sensor90), 0);
    EXPECT_EQ(RotationForSetting(-1, &sensor90), 0);
}

TEST(DisplayRotation, APictureOfThisRunKeepsItsStoredRotation)
{
    const ImageInfo saved = WithRotation(270);
    const ImageInfo current = WithRotation(90);
    for (int setting : {0, 1, 2, 3, 4, 7})
        EXPECT_EQ(ChooseDisplayRotation(&saved, setting, &current), 270) << setting;
    // Not one of this run's pictures: the setting applies at once.
    EXPECT_EQ(ChooseDisplayRotation(nullptr, 3, &current), 180);
    // A stored rotation that is no quarter turn counts as none.
    const ImageInfo odd = WithRotation(45);
    EXPECT_EQ(ChooseDisplayRotation(&odd, 2, nullptr), 0);
    EXPECT_EQ(RotationForSetting(4, &odd), 0);
}

TEST(DisplayRotation, HistoryIndexOutsideTheListMeansNoHistoryPicture)
{
    const std::vector<ImageInfo> history = {WithRotation(90), WithRotation(180)};
    EXPECT_EQ(HistoryPictureAt(history, -1), nullptr);
    EXPECT_EQ(HistoryPictureAt(history, 2), nullptr);
    ASSERT_NE(HistoryPictureAt(history, 1), nullptr);
    EXPECT_EQ(HistoryPictureAt(history, 1)->Rotation(), 180);
    EXPECT_EQ(HistoryPictureAt(std::vector<ImageInfo>{}, 0), nullptr);
}

// ---------------------------------------------------------------- box and placement

TEST(DisplayBox, FreeAreaIsRightOfThePanelAndNeverNegative)
{
    EXPECT_EQ(FreeDisplayBox(1000, 600, 250).width, 747);
    EXPECT_EQ(FreeDisplayBox(1000, 600, 250).height, 600);
    // A window narrower than the panel gives a picture 1 pixel wide.
    EXPECT_EQ(FreeDisplayBox(200, 600, 250).width, 1);
    EXPECT_EQ(FreeDisplayBox(1000, -5, 250).height, 1);
    EXPECT_EQ(FreeDisplayBox(253, 0, 250).width, 0);
}

TEST(DisplayBox, PictureSitsFlushWithTheRightEdge)
{
    PicturePlacement p = PlacePicture(1000, 700, std::nullopt);
    EXPECT_EQ(p.x, 300);
    EXPECT_EQ(p.y, 0);
    EXPECT_FALSE(p.clearFirst);
    EXPECT_FALSE(PlacePicture(1000, 700, 700).clearFirst);
    EXPECT_TRUE(PlacePicture(1000, 700, 650).clearFirst);
}

// ---------------------------------------------------------------- MakeDisplayBitmap

TEST(MakeDisplayBitmap, NoBytesMeansNoDecodeAndNoPicture)
{
    FakeDecoder fake;
    ImageHistogram h;
    DisplaySource none;
    DisplayResult r = MakeDisplayBitmap(none, DisplaySettings{}, 700, 500, h, true, {}, fake.Fn());
    EXPECT_EQ(fake.calls, 0);
    EXPECT_FALSE(r.display);
    EXPECT_FALSE(r.highlight);
    EXPECT_FALSE(r.rotation);
}

TEST(MakeDisplayBitmap, DecodesWithTheChosenRotationBoxAndGreyMode)
{
    FakeDecoder fake;
    ImageHistogram h;
    DisplaySettings s;
    s.orientationSetting = 1;
    s.blackAndWhite = true;
    DisplayResult r = MakeDisplayBitmap(Source(), s, 700, 500, h, false, {}, fake.Fn());
    EXPECT_EQ(fake.rotation, 270);
    EXPECT_EQ(fake.boxWidth, 700);
    EXPECT_EQ(fake.boxHeight, 500);
    EXPECT_TRUE(fake.blackAndWhite);
    ASSERT_TRUE(r.display);
    EXPECT_EQ(r.rotation, 270);
    EXPECT_FALSE(r.highlight);  // not asked for
    EXPECT_EQ(h.SampleCount(), 1u);

    const ImageInfo saved = WithRotation(180);
    r = MakeDisplayBitmap(Source(nullptr, &saved), s, 700, 500, h, false, {}, fake.Fn());
    EXPECT_EQ(fake.rotation, 180);
    EXPECT_EQ(r.rotation, 180);
}

TEST(MakeDisplayBitmap, DecodeFailuresAreReportedAndGiveNoPicture)
{
    struct Case {
        std::function<void()> fail;
        std::string message;
    } cases[] = {
        {[] { throw JpegError("Not a JPEG file: starts with 0x49 0x49"); },
         "Error reading JPEG:\nNot a JPEG file: starts with 0x49 0x49"},
        {[] { throw std::runtime_error("something else"); }, "Error reading JPEG"},
        {[] { throw std::bad_alloc(); }, "Error reading JPEG"},
    };
    for (const Case& c : cases) {
        FakeDecoder fake;
        fake.fail = c.fail;
        std::vector<std::string> shown;
        ImageHistogram h;
        DisplaySettings s;
        s.orientationSetting = 2;
        DisplayResult r = MakeDisplayBitmap(Source(), s, 700, 500, h, true,
                                            [&](const std::string& m) { shown.push_back(m); },
                                            fake.Fn());
        EXPECT_FALSE(r.display);
        EXPECT_FALSE(r.highlight);
        EXPECT_EQ(r.rotation, 90);  // the choice stands even when the decode fails
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0], c.message);
    }
}

TEST(MakeDisplayBitmap, UnreadableTiffGivesNoPictureAndNoMessage)
{
    int shown = 0;
    ImageHistogram h;
    DecodeFunction tiffFails = [](const uint8_t*, size_t, ImageHistogram&, int, int, int,
                                  bool) -> std::optional<Bitmap> { return std::nullopt; };
    DisplayResult r = MakeDisplayBitmap(Source(), DisplaySettings{}, 700, 500, h, true,
                                        [&](const std::string&) { ++shown; }, tiffFails);
    EXPECT_FALSE(r.display);
    EXPECT_FALSE(r.highlight);
    EXPECT_EQ(shown, 0);
}

TEST(MakeDisplayBitmap, CompanionIsBuiltFromThePlainPictureThenBothGetTheOverlays)
{
    // A white picture and a white grid: if the companion were made after the grid, the
    // grid would blink with the picture.
    FakeDecoder fake;
    fake.r = fake.g = fake.b = 255;
    ImageHistogram h;
    DisplaySettings s;
    s.displayGrid = true;
    s.gridColour = 0x00FFFFFF;
    s.horizontalDivisions = 2;
    s.verticalDivisions = 0;
    s.highlightMethod = kHighlightRgbValue;
    s.highlightThreshold = 250;
    DisplayResult r = MakeDisplayBitmap(Source(), s, 20, 10, h, true, {}, fake.Fn());
    ASSERT_TRUE(r.display && r.highlight);
    EXPECT_EQ(At(*r.highlight, 10, 5), QColor(255, 255, 255));  // grid line
    EXPECT_EQ(At(*r.highlight, 3, 5), QColor(0, 0, 0));         // blinking picture
    EXPECT_EQ(At(*r.display, 3, 5), QColor(255, 255, 255));
}

// In the monitor's colours the picture changes; the readout, the histogram and what
// blinks stay on the picture's own values, and the overlays keep their own colours.
TEST(MakeDisplayBitmap, MonitorColoursLeaveTheReviewAidsOnThePicturesOwnValues)
{
    FakeDecoder fake;
    fake.r = 252, fake.g = 40, fake.b = 40;  // over the threshold in red, in its own values
    const auto wide = colour::Profile::FromIcc(testprofiles::WideGamutMonitor());
    ASSERT_TRUE(wide);
    const auto toMonitor = colour::DisplayTransform::Make(colour::Profile::AdobeRgb(), *wide,
                                                          colour::RenderingIntent::Perceptual);
    ASSERT_TRUE(toMonitor);
    DisplaySource source = Source();
    source.toMonitor = toMonitor.get();
    DisplaySettings s;
    s.displayGrid = true;
    s.gridColour = 0x0000FF00;
    s.horizontalDivisions = 2;
    s.verticalDivisions = 0;
    s.highlightMethod = kHighlightRgbValue;
    s.highlightThreshold = 250;
    ImageHistogram h;
    DisplayResult r = MakeDisplayBitmap(source, s, 20, 10, h, true, {}, fake.Fn());
    ASSERT_TRUE(r.display && r.shown && r.highlight);
    EXPECT_EQ(r.Shown(), &*r.shown);
    uint8_t expected[3] = {40, 40, 252};  // blue, green, red
    toMonitor->Apply(expected, 1, 1, 3);
    EXPECT_LT(expected[2], 250);  // on the monitor the red no longer reaches the threshold
    EXPECT_EQ(At(*r.display, 3, 5), QColor(252, 40, 40));
    EXPECT_EQ(At(*r.shown, 3, 5), QColor(expected[2], expected[1], expected[0]));
    EXPECT_EQ(At(*r.highlight, 3, 5), QColor(0, 0, 0));  // it blinks all the same
    for (const Bitmap* b : {&*r.display, &*r.shown, &*r.highlight})
        EXPECT_EQ(At(*b, 10, 5), QColor(0, 255, 0));  // the grid line
    EXPECT_EQ(h.RawBin(ImageHistogram::Red, 252), 1u);  // the decoder's histogram, untouched

    // Without a transform nothing extra is made.
    DisplayResult plain = MakeDisplayBitmap(Source(), s, 20, 10, h, false, {}, fake.Fn());
    EXPECT_FALSE(plain.shown);
    EXPECT_EQ(plain.Shown(), &*plain.display);
}

TEST(MakeDisplayBitmap, FocusPointsFollowTheChosenRotationOnBothBitmaps)
{
    FakeDecoder fake;
    ImageHistogram h;
    const ImageInfo info = WithModel("Canon EOS 300D DIGITAL");
    ASSERT_EQ(info.Model(), "Canon EOS 300D DIGITAL");
    DisplaySettings s;
    s.orientationSetting = 2;  // 90 degrees clockwise
    s.displayFocusPoints = true;
    // The portrait box the view would pass for a 700 x 466 picture turned upright.
    DisplayResult r = MakeDisplayBitmap(Source(&info), s, 466, 700, h, true, {}, fake.Fn());
    ASSERT_TRUE(r.display && r.highlight);
    for (const Bitmap* bm : {&*r.display, &*r.highlight}) {
        // The left-most point of the picture, turned to the top: outer frame (217, 105)
        // 32 x 23 in black, inner frame in grey (no point is active).
        EXPECT_EQ(At(*bm, 217, 105), QColor(0, 0, 0));
        EXPECT_EQ(At(*bm, 249, 128), QColor(0, 0, 0));
        EXPECT_EQ(At(*bm, 218, 106), QColor(80, 80, 80));
        EXPECT_EQ(At(*bm, 220, 110), QColor(40, 50, 60));
    }
}

TEST(MakeDisplayBitmap, OverlaysNeedTheirSettingAndFocusPointsNeedARecord)
{
    FakeDecoder fake;
    ImageHistogram h;
    const ImageInfo info = WithModel("Canon EOS 10D");
    DisplaySettings s;  // grid and focus points off
    DisplayResult r = MakeDisplayBitmap(Source(&info), s, 700, 466, h, false, {}, fake.Fn());
    ASSERT_TRUE(r.display);
    EXPECT_EQ(At(*r.display, 334, 217), QColor(40, 50, 60));
    EXPECT_EQ(At(*r.display, 77, 20), QColor(40, 50, 60));

    s.displayFocusPoints = true;
    s.displayGrid = true;
    r = MakeDisplayBitmap(Source(nullptr), s, 700, 466, h, false, {}, fake.Fn());
    EXPECT_EQ(At(*r.display, 334, 217), QColor(40, 50, 60));  // no record: no frames
    EXPECT_EQ(At(*r.display, 77, 20), QColor(0, 255, 0));     // default grid: 9 x 9, green
}

TEST(MakeDisplayBitmap, ZeroBoxGivesAnEmptyPictureWithoutFailing)
{
    FakeDecoder fake;
    ImageHistogram h;
    DisplaySettings s;
    s.displayGrid = true;
    s.displayFocusPoints = true;
    const ImageInfo info = WithModel("Canon EOS 10D");
    DisplayResult r = MakeDisplayBitmap(Source(&info), s, 0, 500, h, true, {}, fake.Fn());
    ASSERT_TRUE(r.display);
    EXPECT_TRUE(r.display->Empty());
    ASSERT_TRUE(r.highlight);
    EXPECT_TRUE(r.highlight->Empty());
}

// ---------------------------------------------------------------- with the real decoder

TEST(MakeDisplayBitmapDecoder, BytesThatAreNoJpegShowLibjpegsText)
{
    const std::vector<uint8_t> tiffLe = {'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0};
    DisplaySource s;
    s.data = tiffLe.data();
    s.length = tiffLe.size();
    std::vector<std::string> shown;
    ImageHistogram h;
    DisplayResult r = MakeDisplayBitmap(s, DisplaySettings{}, 700, 500, h, true,
                                        [&](const std::string& m) { shown.push_back(m); });
    EXPECT_FALSE(r.display);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Error reading JPEG:\nNot a JPEG file: starts with 0x49 0x49");
}

TEST(MakeDisplayBitmapDecoder, CameraPictureIsFittedTurnedAndOverlaid)
{
    REQUIRE_SHARED_TESTDATA(data);
    const auto bytes = testsupport::ReadFileBytes(data / "real" / "exiv2-canon-eos-20d.jpg");
    ASSERT_FALSE(bytes.empty());
    DisplaySource src;
    src.data = bytes.data();
    src.length = bytes.size();
    DisplaySettings s;
    s.displayGrid = true;
    ImageHistogram h;
    int errors = 0;
    // The picture is 150 x 91; a 120 x 80 box fits it to 120 x 72.
    DisplayResult r = MakeDisplayBitmap(src, s, 120, 80, h, true, [&](const std::string&) { ++errors; });
    ASSERT_EQ(errors, 0);
    ASSERT_TRUE(r.display && r.highlight);
    EXPECT_EQ(r.display->width, 120);
    EXPECT_EQ(r.display->height, 72);
    EXPECT_EQ(r.highlight->width, 120);
    EXPECT_EQ(r.highlight->height, 72);
    EXPECT_EQ(h.SampleCount(), 120u * 72u);
    EXPECT_EQ(At(*r.display, 120 * 4 / 9, 30), QColor(0, 255, 0));    // grid column 53
    EXPECT_EQ(At(*r.highlight, 120 * 4 / 9, 30), QColor(0, 255, 0));

    // Turned a quarter: fitted against the turned box (80 x 120), then turned upright.
    s.orientationSetting = 2;
    DisplayResult turned = MakeDisplayBitmap(src, s, 120, 80, h, false, {});
    ASSERT_TRUE(turned.display);
    EXPECT_EQ(turned.rotation, 90);
    EXPECT_EQ(turned.display->width, 48);
    EXPECT_EQ(turned.display->height, 80);
}

TEST(MakeDisplayBitmapDecoder, OnePixelWideTallPictureIsFittedToTheBoxHeight)
{
    // A 1 x 600 stripe, white at the top and black below: too tall for a 300 x 200 box.
    testpictures::Rgb stripe(1, 600);
    for (int y = 0; y < 600; ++y) {
        const uint8_t v = y < 300 ? 255 : 0;
        stripe.Set(0, y, v, v, v);
    }
    const auto bytes = testpictures::EncodeJpeg(stripe, testpictures::JpegOptions{95, 1, 1, false});
    DisplaySource src;
    src.data = bytes.data();
    src.length = bytes.size();
    ImageHistogram h;
    DisplayResult r = MakeDisplayBitmap(src, DisplaySettings{}, 300, 200, h, false, {});
    ASSERT_TRUE(r.display);
    EXPECT_EQ(r.display->width, 1);
    EXPECT_EQ(r.display->height, 200);
    EXPECT_EQ(h.SampleCount(), 200u);
    // Reduced, not cut off: the top half stays white, the bottom half black.
    EXPECT_GT(r.display->Row(20)[0], 200);
    EXPECT_LT(r.display->Row(180)[0], 50);

    // Turned a quarter, the stripe lies across the box and is fitted to its width.
    DisplaySettings turned;
    turned.orientationSetting = 2;
    r = MakeDisplayBitmap(src, turned, 300, 200, h, false, {});
    ASSERT_TRUE(r.display);
    EXPECT_EQ(r.display->width, 300);
    EXPECT_EQ(r.display->height, 1);
}
