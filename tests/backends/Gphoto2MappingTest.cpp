// The libgphoto2 backend's value mapping, on the texts real drivers give (canon, ptp2 for
// Canon EOS and Nikon, the generic PTP values of the virtual camera), and its messages.
#include "backends/gphoto2/Gphoto2Mapping.h"
#include "camera/CameraLibrary.h"
#include "mainview/ValueLists.h"

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
    // "Auto", the common setting of EOS and Sony bodies, reads as the camera's own choice.
    EXPECT_EQ(Iso("Auto"), kAuto);
    EXPECT_EQ(Iso("ISO AUTO"), kAuto);
    EXPECT_EQ(PanelLabel(NumericSetting::Iso, "Auto"), "Auto");
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
    // HEIF pictures of newer Canon and Sony bodies are pictures, kept as they came.
    for (const char* name : {"IMG_0001.HIF", "DSC00001.HEIF", "IMG_0001.heic"}) {
        const FileKind k = ClassifyFileName(name);
        EXPECT_TRUE(k.known) << name;
        EXPECT_EQ(k.dataType, cdsdk::cdDATA_TYPE_PICTURE) << name;
        EXPECT_EQ(k.format, cdsdk::cdFORMAT_RAW) << name;
    }
}

// The texts ptp2 2.5.34 gives for Canon EOS captures that fail, as the backend reads them
// (libgphoto2 runs in the C locale on the camera's worker, so they come in English).
TEST(Gphoto2Mapping, CanonEosCaptureFailuresGiveTheProgramsOwnCodes)
{
    const Problem full =
        ProblemOf(GP_ERROR_NO_MEMORY, false, "Canon EOS Capture failed to release: Perhaps no more memory on card?");
    EXPECT_EQ(full, Problem::CardFull);
    EXPECT_EQ(HardwareErrorOf(full, GP_ERROR_NO_MEMORY), cdsdk::cdHW_ERROR_NO_CF_CARD);

    const Problem locked = ProblemOf(GP_ERROR_NO_MEMORY, false, "Canon EOS Capture failed to release: Card read-only?");
    EXPECT_EQ(locked, Problem::CardLocked);
    EXPECT_EQ(HardwareErrorOf(locked, GP_ERROR_NO_MEMORY), cdsdk::cdHW_ERROR_NO_CF_CARD);
    EXPECT_NE(ProblemMessage(locked, "Canon EOS 5D Mark III", {}, {}).find("write-protected"), std::string::npos);

    // A failed autofocus gives the autofocus code, so that a time-lapse asks whether to go on.
    for (const char* text : {"Canon EOS Auto-Focus failed, could not capture.",
                             "Canon EOS Capture failed to release: Perhaps no focus?",
                             "Canon EOS M Capture failed: Perhaps no focus?"}) {
        const Problem af = ProblemOf(GP_ERROR, false, text);
        EXPECT_EQ(af, Problem::AutofocusFailed) << text;
        EXPECT_EQ(HardwareErrorOf(af, GP_ERROR), cdsdk::cdHW_ERROR_AF_FAILED) << text;
    }

    // "Busy" while the previous frame is processed is not a mode-dial problem.
    const Problem busy =
        ProblemOf(GP_ERROR_CAMERA_BUSY, false, "Canon EOS Full-Press failed (0x2019: PTP Device Busy)");
    EXPECT_EQ(busy, Problem::Busy);
    const std::string message = ProblemMessage(busy, "Canon EOS 5D Mark III", {}, {});
    EXPECT_EQ(message.find("mode dial"), std::string::npos) << message;
    EXPECT_NE(message.find("busy"), std::string::npos) << message;
    // At opening, busy still means another program holds the camera.
    EXPECT_EQ(ProblemOf(GP_ERROR_CAMERA_BUSY, true), Problem::CameraBusy);
}

// Every save mode against the capture targets of Nikon and Canon (libgphoto2's own setting)
// and Sony (the body's store destination).
TEST(Gphoto2Mapping, CaptureTargetsFollowWhereTheSaveModeWantsThePicture)
{
    using namespace cdsdk;
    const uint16_t pcOnly = cdREL_KIND_PICT_TO_PC;
    const uint16_t pcOnlyRaw = cdREL_KIND_PICT_TO_PC | cdREL_KIND_THUMB_TO_PC;
    const uint16_t cameraOnly = cdREL_KIND_PICT_TO_CAM | cdREL_KIND_THUMB_TO_CAM | cdREL_KIND_THUMB_TO_PC;
    const uint16_t cameraAndPc = cdREL_KIND_PICT_TO_CAM | cdREL_KIND_THUMB_TO_CAM | cdREL_KIND_PICT_TO_PC;
    const uint16_t cameraAndPcRaw = cameraAndPc | cdREL_KIND_THUMB_TO_PC;

    const std::vector<std::string> sony = {"sdram", "card", "card+sdram"};
    EXPECT_EQ(CaptureTargetChoice(sony, pcOnly), 0);
    EXPECT_EQ(CaptureTargetChoice(sony, pcOnlyRaw), 0);
    // The camera modes still need the file on the PC: the card alone would send nothing.
    EXPECT_EQ(CaptureTargetChoice(sony, cameraAndPc), 2);
    EXPECT_EQ(CaptureTargetChoice(sony, cameraAndPcRaw), 2);
    EXPECT_EQ(CaptureTargetChoice(sony, cameraOnly), 2);

    const std::vector<std::string> nikon = {"Internal RAM", "Memory card"};
    EXPECT_EQ(CaptureTargetChoice(nikon, pcOnly), 0);
    EXPECT_EQ(CaptureTargetChoice(nikon, cameraAndPc), 1);
    EXPECT_EQ(CaptureTargetChoice(nikon, cameraOnly), 1);

    // Labels the mapping cannot place (a translation, had libgphoto2 given one) fit no mode.
    EXPECT_EQ(CaptureTargetChoice({"interner Speicher", "Speicherkarte"}, pcOnly), -1);
    EXPECT_EQ(CaptureTargetChoice({"Camera", "Memory card"}, pcOnly), -1);  // "Camera" is no RAM
}

TEST(Gphoto2Mapping, NewerBodiesSettingsAreShownNotErrors)
{
    // Sony's JPEG qualities, and HEIF formats (written only when no JPEG choice fits).
    EXPECT_EQ(ImageFormatFromText("Standard").quality, 2);
    EXPECT_EQ(ImageFormatFromText("Extra Fine").quality, 3);
    EXPECT_EQ(ImageFormatFromText("HEIF Fine").quality, 3);
    EXPECT_EQ(ChoiceForImageFormat({"HEIF Fine", "Large Fine JPEG", "RAW"}, 3, 0), 1);

    // Canon's Fv and custom modes, Nikon's user settings.
    const std::pair<const char*, uint16_t> modes[] = {
        {"Fv", panel::kModeFlexiblePriority}, {"Custom", panel::kModeCustom1}, {"C2", panel::kModeCustom2},
        {"C3", panel::kModeCustom3},          {"U1", panel::kModeUser1},       {"U2", panel::kModeUser2},
    };
    for (const auto& [text, code] : modes) {
        EXPECT_EQ(EnumCodeFromText(EnumSetting::ShootingMode, text), code) << text;
        EXPECT_TRUE(panel::IsCreativeMode(code)) << text;
    }
    EXPECT_EQ(panel::ModeLine(panel::kModeFlexiblePriority), "Mode: Fv");
    EXPECT_EQ(panel::ModeLine(panel::kModeCustom3), "Mode: C3");
    EXPECT_EQ(panel::ModeLine(panel::kModeUser2), "Mode: U2");
    // The program's own modes are still read first.
    EXPECT_EQ(EnumCodeFromText(EnumSetting::ShootingMode, "Manual"), 4);
    EXPECT_EQ(EnumCodeFromText(EnumSetting::ShootingMode, "Creative Auto"), 0);
}

// The panel's labels for a body's own choices: the program's label for the same code, else
// the value in the program's style.
TEST(Gphoto2Mapping, BodyChoicesGetLabelsInTheProgramsStyle)
{
    EXPECT_EQ(PanelLabel(NumericSetting::Tv, "0.0012s"), "1/800");
    EXPECT_EQ(PanelLabel(NumericSetting::Tv, "0.0001s"), "1/10000");
    EXPECT_EQ(PanelLabel(NumericSetting::Tv, "1.0000s"), "1\"");
    EXPECT_EQ(PanelLabel(NumericSetting::Tv, "45"), "45\"");
    EXPECT_EQ(PanelLabel(NumericSetting::Tv, "11"), "11\"");  // not the half-stop list's "10"
    EXPECT_EQ(PanelLabel(NumericSetting::Tv, "6000000"), "6000000\"");  // never "6e+06"
    EXPECT_EQ(PanelLabel(NumericSetting::Tv, "bulb"), "bulb");
    EXPECT_EQ(PanelLabel(NumericSetting::Av, "f/2.8"), "2.8");
    EXPECT_EQ(PanelLabel(NumericSetting::Av, "f/6.7"), "6.7");
    EXPECT_EQ(PanelLabel(NumericSetting::ExposureComp, "-0.5"), "-1/2");
    EXPECT_EQ(PanelLabel(NumericSetting::ExposureComp, "0"), "None");
    EXPECT_EQ(PanelLabel(NumericSetting::ExposureComp, "-3"), "-3.0");
    EXPECT_EQ(PanelLabel(NumericSetting::Iso, "64"), "64");
    EXPECT_EQ(PanelLabel(NumericSetting::Iso, "ISO 400"), "400");
    EXPECT_EQ(PanelLabel(NumericSetting::Av, "Unknown value 0x1234"), "");
}

TEST(Gphoto2Mapping, TheImageFormatSaysHowManyFilesAShotGives)
{
    const std::pair<const char*, int> formats[] = {
        {"RAW + Large Fine JPEG", 2}, {"cRAW + Small Normal JPEG", 2}, {"NEF+Fine", 2},   {"RAW+JPEG", 2},
        {"RAW & JPEG", 2},            {"RAW + HEIF Fine", 2},         {"Large Fine JPEG", 1}, {"RAW", 1},
        {"NEF (Raw)", 1},             {"JPEG Fine", 1},               {"Standard", 1},    {"Extra Fine", 1},
    };
    for (const auto& [text, files] : formats)
        EXPECT_EQ(FilesPerShot(text), files) << text;
    EXPECT_FALSE(FilesPerShot("Unknown value 0012").has_value());
    EXPECT_FALSE(FilesPerShot("").has_value());

    // The virtual camera's summary: it captures JPEG only.
    EXPECT_EQ(FilesPerShotFromSummary("Model: VC\n\nCapture Formats: JPEG\nDisplay Formats: JPEG\n"), 1);
    EXPECT_FALSE(FilesPerShotFromSummary("Capture Formats: JPEG Undefined Type\n").has_value());
    EXPECT_FALSE(FilesPerShotFromSummary("Model: VC\n").has_value());

    // The files of one shot share their name.
    EXPECT_EQ(BaseName("capt0001.nef"), "CAPT0001");
    EXPECT_EQ(BaseName("/store_00010001/DCIM/100CANON/IMG_0001.JPG"), "IMG_0001");
}

TEST(Gphoto2Mapping, TheCaptureTimeLimitFollowsTheExposure)
{
    EXPECT_EQ(CaptureTimeLimitMs(1.0 / 125), 40016);
    EXPECT_EQ(CaptureTimeLimitMs(std::nullopt), 40000);  // bulb or unknown
    // 30 s with long-exposure noise reduction takes about 60 s: well inside the limit.
    EXPECT_EQ(CaptureTimeLimitMs(30.0), 100000);
    EXPECT_EQ(CaptureTimeLimitMs(ParseShutterSeconds("30")), 100000);
    EXPECT_EQ(CaptureTimeLimitMs(-1.0), 40000);
}

TEST(Gphoto2Mapping, PropertyEventsNameTheirSettingOrNot)
{
    auto named = ParsePropertyChange("PTP Property 5007 changed, \"f-number\" to \"f/5.6\"");
    ASSERT_TRUE(named);
    EXPECT_TRUE(named->named);
    EXPECT_EQ(named->name, "f-number");
    EXPECT_EQ(named->value, "f/5.6");
    auto quote = ParsePropertyChange("PTP Property d102 changed, \"shutterspeed\" to \"1\"3\"");
    ASSERT_TRUE(quote);
    EXPECT_EQ(quote->value, "1\"3");
    auto unnamed = ParsePropertyChange("PTP Property d1a2 changed");
    ASSERT_TRUE(unnamed);
    EXPECT_FALSE(unnamed->named);
    EXPECT_FALSE(ParsePropertyChange("PTP Event 400a, Param1 00010001").has_value());
    EXPECT_TRUE(IsStoreFullEvent("PTP Event 400a, Param1 00010001"));
    EXPECT_FALSE(IsStoreFullEvent("PTP Event 4002, Param1 00000012"));
}

// How the driver hears each body: ptp2 polls bodies that speak their maker's extension
// (vendor properties in the d000 range); the virtual camera answers as plain PTP.
TEST(Gphoto2Mapping, EventPathsFollowTheDriver)
{
    const std::vector<std::string> plainPtp = {"5001", "5003", "5007", "5010", "500d", "capturetarget"};
    std::vector<std::string> nikon = plainPtp;
    nikon.push_back("d1a2");
    EXPECT_EQ(EventPathOf(true, 0x04b0, plainPtp), EventPath::Interrupt);
    EXPECT_EQ(EventPathOf(true, 0x04b0, nikon), EventPath::Polling);
    EXPECT_EQ(EventPathOf(true, 0x04a9, {"d101", "d102"}), EventPath::Polling);
    EXPECT_EQ(EventPathOf(true, 0x054c, {"d20d"}), EventPath::Polling);
    EXPECT_EQ(EventPathOf(false, 0x04a9, {"d101"}), EventPath::Interrupt);  // the canon driver
    EXPECT_EQ(EventPathOf(true, 0x1234, nikon), EventPath::Interrupt);
    // Polling: one look about every 30 ms in a shot, less often while idle.
    EXPECT_LE(PollTimingOf(EventPath::Polling, true).cycleMs, 40);
    EXPECT_GT(PollTimingOf(EventPath::Polling, false).cycleMs, PollTimingOf(EventPath::Polling, true).cycleMs);
    EXPECT_LE(PollTimingOf(EventPath::Polling, true).waitMs, 5);
    // Interrupt-driven: a long wait inside libgphoto2 during a shot.
    EXPECT_GE(PollTimingOf(EventPath::Interrupt, true).waitMs, 200);
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
