// The command line's set values on arbitrary text: the first byte picks the reader (a
// bracket's step in EV, or a focus stack's FRAMES,STEP[,start]). Besides never crashing,
// whatever is accepted lies in range: a step of thirds or halves from 1/3 to 3 EV, whose
// text reads back as the same step; a stack of 2 to 500 frames, a step size 1 to 3 and
// 1 to 99 steps, which the range check accepts for a body with focus drive.
#include "sequences/ExposureBracket.h"
#include "sequences/FocusStack.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] & 1) {
        if (const auto step = sequences::ParseStepEv(text)) {
            if (*step < sequences::kMinStepSixths || *step > sequences::kMaxStepSixths || (*step % 2 && *step % 3))
                std::abort();
            std::string again = sequences::StepText(*step);
            again.resize(again.size() - 3);  // without " EV"
            if (sequences::ParseStepEv(again) != step)
                std::abort();
        }
    } else if (const auto r = sequences::ParseFocusStack(text)) {
        if (!sequences::FocusStackRefusal(*r, cdsdk::cdLV_CAP_FOCUS_DRIVE).empty())
            std::abort();
    }
    return 0;
}
