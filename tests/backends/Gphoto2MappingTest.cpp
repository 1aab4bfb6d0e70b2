// The libgphoto2 backend's value mapping, on the texts real drivers give (canon, ptp2 for
// Canon EOS and Nikon, the generic PTP values of the virtual camera), and its messages.
#include "backends/gphoto2/Gphoto2Mapping.h"
#include "camera/CameraLibrary.h"

#include <gphoto2/gphoto2-port-result.h>
#include <gphoto2/gphoto2-result.h>
#include <gtest/gtest.h>

using namespace gphoto2;

namespace {

uint16_t Tv(const char* text) { return TvCodeFromText(text).value_or(0xDEAD); }
uint16_t Av(const char* text) { return AvCodeFromText(text).value_or(0xDEAD); }
uint16_t Ev(const char* text) { return ExposureCompCodeFromText(text).value_or(0xDEAD); }
uint16_t Iso(const char* text) { return IsoCodeFromText(text).value_or(0xDEAD); }

TEST(Gphoto2Mapping, ShutterSpeedsAreMatchedByExposureTime)
{
    EXPECT_EQ(Tv("1/125"), 0x70);
    EXPECT_EQ(Tv("1/4000"), 0x98);
    EXPECT_EQ(Tv("1/8000"), 0xA0);  // beyond the program's lists: the eighth-stop scale goes on
    EXPECT_EQ(Tv("30"), 0x10);
    EXPECT_EQ(Tv("1"), 0x38);
    EXPECT_EQ(Tv("0.3"), 0x45);
    EXPECT_EQ(Tv("0.3\""), 0x45);
    EXPECT_EQ(Tv("1\"3"), 0x35);      // 1.3 s written as some bodies show it
    EXPECT_EQ(Tv("1/100"), 0x6D);
    EXPECT_EQ(Tv("0.0100s"), 0x6D);   // generic PTP: seconds with four decimals
    EXPECT_EQ(Tv("0.0012s"), 0x85);   // 1/833 s is the 1/800 third stop
    EXPECT_EQ(Tv("1/125s"), 0x70);
    EXPECT_EQ(Tv("bulb"), 0x04);
    EXPECT_EQ(Tv("Bulb"), 0x04);
    EXPECT_EQ(Tv("auto"), 0xFFFF);
    // Values both lists share go to the fine list's code; half stops to the coarse list's.
    EXPECT_EQ(Tv("6"), 0x23);
    EXPECT_EQ(Tv("1.5"), 0x34);
    EXPECT_EQ(Tv("1/45"), 0x64);
    EXPECT_FALSE(TvCodeFromText("Unknown").has_value());
    EXPECT_FALSE(TvCodeFromText("").has_value());
}

TEST(Gphoto2Mapping, AperturesAreMatchedByFNumber)
{
    EXPECT_EQ(Av("f/5.6"), 0x30);
    EXPECT_EQ(Av("5.6"), 0x30);
    EXPECT_EQ(Av("F5.6"), 0x30);
    EXPECT_EQ(Av("f/2.8"), 0x20);
    EXPECT_EQ(Av("f/4.5"), 0x2B);
    EXPECT_EQ(Av("f/5"), 0x2D);
    EXPECT_EQ(Av("f/6.3"), 0x33);
    EXPECT_EQ(Av("f/22"), 0x50);
    EXPECT_EQ(Av("9.5"), 0x3C);  // a half stop only the coarse list has
    EXPECT_EQ(Av("implicit auto"), 0xFFFF);
    EXPECT_FALSE(AvCodeFromText("f/").has_value());
}

TEST(Gphoto2Mapping, ExposureCompensationIsMatchedByStops)
{
    EXPECT_EQ(Ev("+0.3"), 0x15);
    EXPECT_EQ(Ev("-1/3"), 0x1B);
    EXPECT_EQ(Ev("+1/3"), 0x15);
    EXPECT_EQ(Ev("0"), 0x18);
    EXPECT_EQ(Ev("None"), 0x18);
    EXPECT_EQ(Ev("+1 2/3"), 0x0B);
    EXPECT_EQ(Ev("1.7"), 0x0B);
    EXPECT_EQ(Ev("-0.7"), 0x1D);
    EXPECT_EQ(Ev("0.5"), 0x14);
    EXPECT_EQ(Ev("-2.5"), 0x2C);
    EXPECT_EQ(Ev("-3"), 0x30);
    EXPECT_EQ(Ev("+2"), 0x08);
    EXPECT_FALSE(ExposureCompCodeFromText("Unknown").has_value());
}

TEST(Gphoto2Mapping, IsoIsMatchedBySpeed)
{
    EXPECT_EQ(Iso("400"), 0x58);
    EXPECT_EQ(Iso("ISO 400"), 0x58);
    EXPECT_EQ(Iso("100"), 0x48);
    EXPECT_EQ(Iso("1000"), 0x63);
    EXPECT_EQ(Iso("3200"), 0x70);
    EXPECT_EQ(Iso("125"), 0x4B);
    EXPECT_FALSE(IsoCodeFromText("Auto").has_value());
}

TEST(Gphoto2Mapping, WritingPicksTheChoiceWithTheSameValueWhateverItsSpelling)
{
    const std::vector<std::string> ptp = {"1.0000s", "0.1000s", "0.0050s", "0.0100s"};
    EXPECT_EQ(ChoiceForCode(NumericSetting::Tv, ptp, 0x6D), 3);  // 1/100
    EXPECT_EQ(ChoiceForCode(NumericSetting::Tv, ptp, 0x75), 2);  // 1/200
    EXPECT_EQ(ChoiceForCode(NumericSetting::Tv, ptp, 0x70), -1); // 1/125 is not there
    const std::vector<std::string> eos = {"f/4", "f/5.6", "f/8"};
    EXPECT_EQ(ChoiceForCode(NumericSetting::Av, eos, 0x30), 1);
    const std::vector<std::string> ev = {"-1", "-0.5", "0", "0.5", "1"};
    EXPECT_EQ(ChoiceForCode(NumericSetting::ExposureComp, ev, 0x14), 3);
    EXPECT_EQ(ChoiceForCode(NumericSetting::ExposureComp, ev, 0x15), -1);  // no third stops here
    // Free-text drivers get the nominal value; it reads back as the same code.
    for (uint16_t code : {0x70, 0x45, 0x10, 0x98}) {
        const std::string text = TextForCode(NumericSetting::Tv, code);
        EXPECT_EQ(TvCodeFromText(text), code) << text;
    }
    EXPECT_EQ(TextForCode(NumericSetting::Av, 0x30), "5.6");
    EXPECT_EQ(TextForCode(NumericSetting::ExposureComp, 0x1B), "-0.3");
    EXPECT_EQ(TextForCode(NumericSetting::Iso, 0x58), "400");
}

TEST(Gphoto2Mapping, EnumeratedSettingsFollowTheDriversLabels)
{
    EXPECT_EQ(EnumCodeFromText(EnumSetting::WhiteBalance, "Auto"), 0);
    EXPECT_EQ(EnumCodeFromText(EnumSetting::WhiteBalance, "Shadow"), 8);
    EXPECT_EQ(EnumCodeFromText(EnumSetting::WhiteBalance, "Color Temperature"), 9);
    EXPECT_EQ(EnumCodeFromText(EnumSetting::WhiteBalance, "Manual"), 6);
    EXPECT_EQ(EnumCodeFromText(EnumSetting::Metering, "Evaluative"), 3);
    EXPECT_EQ(EnumCodeFromText(EnumSetting::Metering, "Matrix"), 3);
    EXPECT_EQ(EnumCodeFromText(EnumSetting::Metering, "Center Weighted"), 5);
    EXPECT_FALSE(EnumCodeFromText(EnumSetting::Metering, "Spot").has_value());
    EXPECT_EQ(EnumCodeFromText(EnumSetting::Drive, "Single Shot"), 0);
    EXPECT_EQ(EnumCodeFromText(EnumSetting::Drive, "Timer 10 sec"), 0x10);
    EXPECT_EQ(EnumCodeFromText(EnumSetting::AfMode, "Auto focus: one-shot"), 0);
    EXPECT_EQ(EnumCodeFromText(EnumSetting::AfMode, "AI Servo"), 1);
    EXPECT_EQ(EnumCodeFromText(EnumSetting::AfMode, "AF-A"), 2);
    EXPECT_EQ(EnumCodeFromText(EnumSetting::AfMode, "Manual focus"), 3);
    EXPECT_EQ(EnumCodeFromText(EnumSetting::ShootingMode, "M"), 4);
    EXPECT_EQ(EnumCodeFromText(EnumSetting::ShootingMode, "AV"), 3);
    EXPECT_EQ(EnumCodeFromText(EnumSetting::ShootingMode, "A"), 3);
    EXPECT_EQ(EnumCodeFromText(EnumSetting::ShootingMode, "Bulb"), 7);
    EXPECT_EQ(EnumCodeFromText(EnumSetting::ShootingMode, "Landscape"), 102);
    const std::vector<std::string> wb = {"Automatic", "Daylight", "Shade", "Color Temperature"};
    EXPECT_EQ(ChoiceForEnumCode(EnumSetting::WhiteBalance, wb, 9), 3);
    EXPECT_EQ(ChoiceForEnumCode(EnumSetting::WhiteBalance, wb, 3), -1);
}

TEST(Gphoto2Mapping, ImageFormatsGiveQualityAndSize)
{
    ImageFormat f = ImageFormatFromText("Medium Fine JPEG");
    EXPECT_EQ(f.quality, 3);
    EXPECT_EQ(f.size, 1);
    f = ImageFormatFromText("NEF (Raw)");
    EXPECT_EQ(f.quality, 4);
    EXPECT_EQ(f.size, 0);
    f = ImageFormatFromText("JPEG Basic");
    EXPECT_EQ(f.quality, 2);
    EXPECT_FALSE(f.size.has_value());
    const std::vector<std::string> eos = {"Large Fine JPEG", "Small Normal JPEG", "RAW + Large Fine JPEG", "RAW"};
    EXPECT_EQ(ChoiceForImageFormat(eos, 4, 0), 3);  // RAW alone before RAW + JPEG
    EXPECT_EQ(ChoiceForImageFormat(eos, 2, 2), 1);
    EXPECT_EQ(ChoiceForImageFormat(eos, 2, 0), -1);
    const std::vector<std::string> sizes = {"640x480", "1024x768", "2048x1536"};
    EXPECT_EQ(SizeCodeOfDimensions(sizes, "2048x1536"), 0);
    EXPECT_EQ(SizeCodeOfDimensions(sizes, "1024x768"), 1);
    EXPECT_EQ(SizeCodeOfDimensions(sizes, "640x480"), 2);
}

TEST(Gphoto2Mapping, FilesAreClassifiedByExtension)
{
    EXPECT_EQ(ClassifyFileName("GPH_0001.JPG").format, cdsdk::cdFORMAT_JPEG);
    EXPECT_EQ(ClassifyFileName("IMG_0001.jpeg").dataType, cdsdk::cdDATA_TYPE_PICTURE);
    EXPECT_EQ(ClassifyFileName("CRW_0001.CRW").format, cdsdk::cdFORMAT_RAW);
    EXPECT_EQ(ClassifyFileName("IMG_0001.cr2").format, cdsdk::cdFORMAT_RAW);
    EXPECT_EQ(ClassifyFileName("DSC_0001.NEF").format, cdsdk::cdFORMAT_RAW);
    EXPECT_EQ(ClassifyFileName("CRW_0001.THM").dataType, cdsdk::cdDATA_TYPE_THUMBNAIL);
    EXPECT_FALSE(ClassifyFileName("MVI_0001.MOV").known);
    EXPECT_FALSE(ClassifyFileName("README").known);
}

TEST(Gphoto2Mapping, ErrorsSayWhatToDo)
{
    EXPECT_EQ(ProblemOf(GP_ERROR_IO_USB_CLAIM, true), Problem::CameraBusy);
    EXPECT_EQ(ProblemOf(GP_ERROR_IO, true, "Could not open USB device (Permission denied)."),
              Problem::NoPermission);
    EXPECT_EQ(ProblemOf(GP_ERROR_IO_USB_FIND, false), Problem::Disconnected);
    EXPECT_EQ(ProblemOf(GP_ERROR_IO_READ, false), Problem::Disconnected);
    EXPECT_EQ(ProblemOf(GP_ERROR_NO_SPACE, false), Problem::CardFull);
    EXPECT_EQ(ProblemOf(GP_ERROR, false, "PTP Store Full"), Problem::CardFull);
    EXPECT_EQ(ProblemOf(GP_ERROR, false), Problem::CannotCapture);
    EXPECT_EQ(ProblemOf(GP_ERROR_NOT_SUPPORTED, false), Problem::DriverCannotCapture);

    const std::string busy = ProblemMessage(Problem::CameraBusy, "Canon EOS 10D", "usb:001,005", {});
    EXPECT_EQ(busy,
              "Canon EOS 10D at usb:001,005 is in use by another program. The desktop's photo importer usually "
              "holds it: eject the camera in the file manager (or 'gio mount -u' with the gphoto2:// location "
              "'gio mount -l' shows), close any other photo program, then connect again.");
    const std::string perm = ProblemMessage(Problem::NoPermission, "Canon EOS 10D", "usb:001,005", "Access denied");
    EXPECT_NE(perm.find("plugdev"), std::string::npos);
    EXPECT_NE(perm.find("60-libgphoto2-6.rules"), std::string::npos);
    EXPECT_NE(perm.find("(libgphoto2: Access denied)"), std::string::npos);
    EXPECT_NE(ProblemMessage(Problem::CannotCapture, "Nikon DSC D750", {}, {}).find("mode dial"), std::string::npos);
    EXPECT_NE(ProblemMessage(Problem::Disconnected, "Nikon DSC D750", {}, {}).find("USB cable"), std::string::npos);
    EXPECT_NE(ProblemMessage(Problem::DriverCannotCapture, "Kodak DC240", {}, {}).find("cannot take pictures"),
              std::string::npos);
    EXPECT_NE(ProblemMessage(Problem::NoCamera, {}, "usb:002,007", {}).find("No camera found at usb:002,007"),
              std::string::npos);
    EXPECT_EQ(ProblemMessage(Problem::None, "x", "y", "z"), "");
    EXPECT_EQ(SeveralCamerasMessage({"Canon EOS 10D at usb:001,004", "Nikon DSC D750 at usb:001,007"}),
              "Several cameras are attached (Canon EOS 10D at usb:001,004, Nikon DSC D750 at usb:001,007). Start "
              "the program with --camera=PORT to choose one, or unplug the others.");

    EXPECT_EQ(HardwareErrorOf(Problem::CardFull, GP_ERROR_NO_SPACE), cdsdk::cdHW_ERROR_NO_CF_CARD);
    EXPECT_EQ(HardwareErrorOf(Problem::CannotCapture, GP_ERROR), 0x8001u);
}

}  // namespace
