// tethrocam-info FILE...: prints, for each picture file, one line of JSON with what the
// program's Exif reader finds in it and the picture's colour space. Exit status 1 when a named file does not exist
// (its line is still printed), 2 on a usage error, 0 otherwise.
#include "colour/PictureColourSpace.h"
#include "imaging/ImageInfo.h"
#include "tools/InfoJson.h"

#include <cstdio>
#include <cstring>
#include <string>

#include <sys/stat.h>

namespace {

void PrintUsage(std::FILE* out)
{
    std::fputs("Usage: tethrocam-info [--] FILE...\n"
               "Prints one JSON line per picture file (.jpg, .thm, .tif, .crw through its .thm)\n"
               "with the camera model, exposure and aperture texts, focus-point fields and\n"
               "rotation read from its Exif data, and its colour space (from an embedded\n"
               "ICC profile, else the Exif marks, else sRGB) with where that came from.\n"
               "Fields that cannot be read keep their start values. Exits with status 1 if\n"
               "a named file does not exist.\n",
               out);
}

} // namespace

int main(int argc, char** argv)
{
    bool optionsDone = false;
    bool anyFile = false;
    bool missing = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!optionsDone && arg[0] == '-' && arg[1] == '-') {
            if (std::strcmp(arg, "--help") == 0) {
                PrintUsage(stdout);
                return 0;
            }
            if (arg[2] == '\0') {
                optionsDone = true;
                continue;
            }
            std::fprintf(stderr, "tethrocam-info: unknown option %s\n", arg);
            PrintUsage(stderr);
            return 2;
        }
        if (!optionsDone && std::strcmp(arg, "-h") == 0) {
            PrintUsage(stdout);
            return 0;
        }
        anyFile = true;
        struct stat st {};
        if (::stat(arg, &st) != 0) {
            std::fprintf(stderr, "tethrocam-info: %s: no such file\n", arg);
            missing = true;
        }
        const colour::PictureColourSpace space = colour::ReadPictureColourSpaceFromFile(arg);
        const std::string line = infotool::ImageInfoJson(ImageInfo::ReadImageInfoFromFile(arg), &space);
        std::fputs(line.c_str(), stdout);
        std::fputc('\n', stdout);
    }
    if (!anyFile) {
        PrintUsage(stderr);
        return 2;
    }
    return missing ? 1 : 0;
}
