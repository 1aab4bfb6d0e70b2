// The libgphoto2 backend under a German desktop, with libgphoto2's translations installed
// (the virtual camera's build has them): libgphoto2 must answer the backend in English,
// whatever the desktop's language, or its capture target never switches and its texts read
// as errors. The whole program runs in the German locale (a program of its own, since the
// locale is the process's); the locale is made with localedef into a private folder.
#include "backends/gphoto2/Gphoto2Camera.h"
#include "camera/ReceiveBuffer.h"
#include "support/TestSupport.h"
#include "VirtualCamera.h"

#include <gphoto2/gphoto2.h>
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <libintl.h>
#include <string>

using namespace cdsdk;

namespace {

// A German desktop: LANG and LANGUAGE as a German session sets them, the locale generated
// into `folder`. Empty when it works, else why not.
std::string UseGermanDesktop(const std::filesystem::path& folder)
{
    const std::string command = "localedef -i de_DE -f UTF-8 '" + (folder / "de_DE.UTF-8").string() + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0 && !std::filesystem::exists(folder / "de_DE.UTF-8"))
        return "localedef could not make the de_DE.UTF-8 locale";
    setenv("LOCPATH", folder.c_str(), 1);
    setenv("LANG", "de_DE.UTF-8", 1);
    setenv("LANGUAGE", "de", 1);
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    if (!std::setlocale(LC_ALL, ""))
        return "the de_DE.UTF-8 locale does not load";
    return {};
}

TEST(Gphoto2Locale, LibgphotoAnswersInEnglishOnAGermanDesktop)
{
    if (std::string why = vcamera::Unavailable(); !why.empty())
        GTEST_SKIP() << why;
    testsupport::TempDir dir;
    if (std::string why = UseGermanDesktop(dir.Path()); !why.empty())
        GTEST_SKIP() << why;
    // The desktop really is German for libgphoto2: its catalogue translates.
    CameraAbilitiesList* list = nullptr;
    gp_abilities_list_new(&list);  // binds libgphoto2's catalogue
    gp_abilities_list_free(list);
    ASSERT_STREQ(dgettext("libgphoto2-6", "Internal RAM"), "interner Speicher")
        << "libgphoto2's German translation is not installed with the virtual camera";

    vcamera::Folders card;
    card.UsePicture();
    gphoto2::Gphoto2Options o;
    o.report = [](const std::string&) {};
    gphoto2::Gphoto2Camera lib(o);
    cdVersionInfo v{};
    v.Size = sizeof v;
    v.MajorVersion = 5;
    ASSERT_EQ(lib.CDStartSDK(&v, 0), cdOK);
    cdHEnum e = 0;
    ASSERT_EQ(lib.CDEnumDeviceReset(1, &e), cdOK);
    cdSourceInfo info{};
    ASSERT_EQ(lib.CDEnumDeviceNext(e, &info), cdOK);
    lib.CDEnumDeviceRelease(e);
    cdHSource s = 0;
    ASSERT_EQ(lib.CDOpenSource(&info, &s), cdOK);

    // The capture target follows the save mode: the backend reads libgphoto2's labels.
    ASSERT_EQ(lib.CDSelectReleaseDataKind(s, cdREL_KIND_PICT_TO_CAM | cdREL_KIND_THUMB_TO_CAM | cdREL_KIND_PICT_TO_PC),
              cdOK);
    EXPECT_EQ(lib.ConfigValue(s, "capturetarget"), "Memory card");
    ASSERT_EQ(lib.CDSelectReleaseDataKind(s, cdREL_KIND_PICT_TO_PC), cdOK);
    EXPECT_EQ(lib.ConfigValue(s, "capturetarget"), "Internal RAM");

    // Numbers come with a decimal point and read as the body's values.
    EXPECT_EQ(lib.ConfigValue(s, "shutterspeed").find(','), std::string::npos) << lib.ConfigValue(s, "shutterspeed");
    uint16_t av = 0, tv = 0;
    ASSERT_EQ(lib.CDGetAvValue(s, &av), cdOK);
    EXPECT_EQ(av, 0x20);  // f/2.8
    ASSERT_EQ(lib.CDGetTvValue(s, &tv), cdOK);
    EXPECT_EQ(tv, 0x6D);  // 1/100
    ASSERT_EQ(lib.CDSetAvValue(s, 0x30), cdOK);  // f/5.6, written back in the driver's own words
    ASSERT_EQ(lib.CDGetAvValue(s, &av), cdOK);
    EXPECT_EQ(av, 0x30);
    lib.CDCloseSource(s);
    lib.CDFinishSDK();
    std::setlocale(LC_ALL, "C");
}

}  // namespace
