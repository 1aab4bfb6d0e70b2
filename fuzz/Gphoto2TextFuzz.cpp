// The libgphoto2 backend's readings of driver texts on arbitrary input: the input is split at
// newlines into texts (a driver's value, a file name, an event text, an error text, a summary,
// choice lists), and every pure reading of the mapping is run on them. Whatever the text, a
// reading answers (a value, a label, a count, a choice index inside its list) without reading
// outside the text, and a code read back from its own label is the same code.
#include "backends/gphoto2/Gphoto2Mapping.h"
#include "camera/CameraLibrary.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using namespace gphoto2;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string all(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> texts;
    size_t start = 0;
    while (start <= all.size()) {
        const size_t end = all.find('\n', start);
        texts.push_back(all.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    const uint16_t kind = size > 0 ? static_cast<uint16_t>(data[0] % 16) : 2;
    for (const std::string& t : texts) {
        for (NumericSetting s : {NumericSetting::Tv, NumericSetting::Av, NumericSetting::ExposureComp,
                                 NumericSetting::Iso}) {
            const auto code = CodeFromText(s, t);
            const std::string label = PanelLabel(s, t);
            // A label reads back as its own code.
            if (code && !label.empty() && CodeFromText(s, label) != code && *code != kTvBulb && *code != kAuto) {
                std::fprintf(stderr, "setting %d: \"%s\" labelled \"%s\" reads back as another code\n",
                             static_cast<int>(s), t.c_str(), label.c_str());
                std::abort();
            }
            if (code)
                (void)TextForCode(s, *code);
        }
        for (EnumSetting e : {EnumSetting::WhiteBalance, EnumSetting::Metering, EnumSetting::Drive,
                              EnumSetting::AfMode, EnumSetting::ShootingMode})
            (void)EnumCodeFromText(e, t);
        (void)ImageFormatFromText(t);
        (void)FilesPerShot(t);
        (void)FilesPerShotFromSummary(t);
        (void)BaseName(t);
        (void)ClassifyFileName(t);
        (void)IsJpegName(t);
        (void)ParsePropertyChange(t);
        (void)IsStoreFullEvent(t);
        (void)ProblemOf(-static_cast<int>(t.size() % 120), (t.size() & 1) != 0, t);
        (void)CaptureTimeLimitMs(ParseShutterSeconds(t));
    }
    const int target = CaptureTargetChoice(texts, kind);
    if (target < -1 || target >= static_cast<int>(texts.size()))
        std::abort();
    const int format = ChoiceForImageFormat(texts, static_cast<uint16_t>(2 + kind % 3), kind % 3);
    if (format < -1 || format >= static_cast<int>(texts.size()))
        std::abort();
    const int tv = ChoiceForCode(NumericSetting::Tv, texts, 0x70);
    if (tv < -1 || tv >= static_cast<int>(texts.size()))
        std::abort();
    (void)SizeCodeOfDimensions(texts, texts.front());
    (void)EventPathOf(true, 0x04b0, texts);
    return 0;
}
