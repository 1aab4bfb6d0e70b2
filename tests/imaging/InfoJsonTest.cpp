// The JSON line of tethrocam-info: string escaping of camera texts that may hold any
// bytes, and the shape of one record.
#include "tools/InfoJson.h"
#include "colour/PictureColourSpace.h"

#include "imaging/ImageInfo.h"

#include "ExifBuilder.h"

#include <gtest/gtest.h>

using infotool::JsonString;

TEST(InfoJson, PlainAndEscapedCharacters)
{
    EXPECT_EQ(JsonString(""), "\"\"");
    EXPECT_EQ(JsonString("Canon EOS 10D"), "\"Canon EOS 10D\"");
    EXPECT_EQ(JsonString("a\"b\\c/d"), "\"a\\\"b\\\\c/d\"");
    EXPECT_EQ(JsonString(std::string("\n\t\x01\x1f\x7f", 5)), "\"\\u000a\\u0009\\u0001\\u001f\\u007f\"");
    EXPECT_EQ(JsonString(std::string("a\0b", 3)), "\"a\\u0000b\"");
}

TEST(InfoJson, Utf8PassesAndOtherBytesAreEscaped)
{
    EXPECT_EQ(JsonString("Caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7"), "\"Caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7\"");
    EXPECT_EQ(JsonString("\xe9t\xe9"), "\"\\u00e9t\\u00e9\"");          // Latin-1
    EXPECT_EQ(JsonString("\xc0\xaf"), "\"\\u00c0\\u00af\"");             // overlong '/'
    EXPECT_EQ(JsonString("\xed\xa0\x80"), "\"\\u00ed\\u00a0\\u0080\"");  // a surrogate
    EXPECT_EQ(JsonString("\xf4\x90\x80\x80"), "\"\\u00f4\\u0090\\u0080\\u0080\""); // above U+10FFFF
    EXPECT_EQ(JsonString("\xe2\x82"), "\"\\u00e2\\u0082\"");             // cut short at the end
    EXPECT_EQ(JsonString("\xe2\x82X"), "\"\\u00e2\\u0082X\"");
}

TEST(InfoJson, OneRecordOnOneLine)
{
    using namespace exiftest;
    const Bytes jpeg = Jpeg({ExifApp1(TypicalTiff(true))});
    ImageInfo info = ImageInfo::ReadImageInfoFromMemory(jpeg.data(), jpeg.size());
    info.SetPath("/shots/2024\n\"x\".jpg");
    EXPECT_EQ(infotool::ImageInfoJson(info),
              "{\"path\":\"/shots/2024\\u000a\\\"x\\\".jpg\",\"model\":\"Canon EOS 10D\",\"exposure\":\"1/125\","
              "\"aperture\":\"5.6\",\"sevenPointAfMask\":65,\"threePointAfValue\":12291,"
              "\"fortyFivePointAf\":\"0102030405060780\",\"rotation\":90}");
    EXPECT_EQ(infotool::ImageInfoJson(ImageInfo{}),
              "{\"path\":\"\",\"model\":\"\",\"exposure\":\"\",\"aperture\":\"\",\"sevenPointAfMask\":0,"
              "\"threePointAfValue\":0,\"fortyFivePointAf\":\"0000000000000000\",\"rotation\":0}");
}

TEST(InfoJson, TheColourSpaceAndWhereItCameFromEndTheLine)
{
    using namespace exiftest;
    ExifBuilder b(true);
    Ifd iop;
    iop.tags.push_back(b.Ascii(0x0001, "R03"));
    Ifd exif;
    exif.tags.push_back(b.Short(0xA001, 0xFFFF));
    exif.tags.push_back(b.Pointer(0xA005, iop));
    Ifd ifd0;
    ifd0.tags.push_back(b.Pointer(kExifIfd, exif));
    const Bytes jpeg = Jpeg({ExifApp1(b.Tiff(ifd0))});
    const colour::PictureColourSpace space = colour::ReadPictureColourSpace(jpeg.data(), jpeg.size());
    const std::string line = infotool::ImageInfoJson(ImageInfo{}, &space);
    EXPECT_NE(line.find(",\"rotation\":0,\"colourSpace\":\"Adobe RGB (1998)\","
                        "\"colourSpaceSource\":\"interoperability\"}"),
              std::string::npos)
        << line;
    const colour::PictureColourSpace plain;
    EXPECT_NE(infotool::ImageInfoJson(ImageInfo{}, &plain).find("\"colourSpace\":\"sRGB\",\"colourSpaceSource\":\"default\"}"),
              std::string::npos);
}
