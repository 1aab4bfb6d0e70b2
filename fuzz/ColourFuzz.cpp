// Fuzz target for the colour-space reading: arbitrary bytes as a picture (the JPEG
// segments and TIFF directories that name its colour space, an embedded ICC profile in
// chunks), and as an ICC profile on its own, which is then joined to sRGB both ways and
// applied to a few pixels. A damaged or hostile profile must come out as no profile,
// never as a read outside the input or a crash.
#include "colour/DisplayTransform.h"
#include "colour/PictureColourSpace.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const colour::PictureColourSpace space = colour::ReadPictureColourSpace(data, size);
    (void)space.Name();
    if (auto profile = colour::Profile::FromIcc(data, size)) {
        const colour::Profile srgb = colour::Profile::Srgb();
        uint8_t pixels[4 * 3] = {0, 0, 0, 255, 255, 255, 255, 0, 0, 12, 200, 90};
        for (auto intent : {colour::RenderingIntent::Perceptual, colour::RenderingIntent::RelativeColorimetricBpc}) {
            if (auto in = colour::DisplayTransform::Make(*profile, srgb, intent))
                in->Apply(pixels, 4, 1, sizeof pixels);
            if (auto out = colour::DisplayTransform::Make(srgb, *profile, intent))
                out->Apply(pixels, 2, 2, 6);
        }
        (void)profile->SameColoursAs(srgb);
    }
    return 0;
}
