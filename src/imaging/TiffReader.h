// TiffReader: turns an uncompressed, chunky RGB TIFF held in memory into plain 8-bit
// red-green-blue pixels for the display pipeline. Only the first directory is read.
// Any thread; the call only reads the given buffer, never blocks and never throws
// (except std::bad_alloc when memory runs out).
//
// Every offset and size taken from the file is checked against the buffer, so a
// picture whose pixels lie beyond the bytes handed in is simply not shown.
// 16-bit samples are reduced to 8 bits by keeping the most significant byte of each
// sample (value >> 8, read in the file's byte order). Pictures stored in several strips
// are read strip by strip, in order, until every pixel is filled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Failure reasons the directory walk reports (the first problem in directory order).
inline constexpr const char* kTiffInvalid = "Invalid TIFF";
inline constexpr const char* kTiffOnlyUncompressed = "Only reads uncompressed";
inline constexpr const char* kTiffBadBitsPerSample = "Unexpected BitsPerSample";

struct TiffImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // width * height * 3 bytes: red, green, blue; rows top first, no padding
    std::string reason;           // empty when the read succeeded

    bool Ok() const { return reason.empty(); }
};

TiffImage ReadTiffImage(const uint8_t* data, size_t length);
