// SimJpegWriter: libjpeg compression for the simulated camera's pictures and live frames:
// the compressed bytes go straight into a growing byte vector, and libjpeg's errors are
// thrown as std::runtime_error. Any thread; one compression per JpegWriter.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace sim {

// libjpeg's destination manager, writing into a byte vector.
struct VectorDestination {
    jpeg_destination_mgr pub;
    std::vector<uint8_t>* out;
};

class JpegWriter {
public:
    // Sets up `cinfo` (error handling, jpeg_create_compress, the destination) to write into
    // `out`, which starts at `reserve` bytes and ends at the size written.
    JpegWriter(jpeg_compress_struct& cinfo, std::vector<uint8_t>& out, size_t reserve);
    ~JpegWriter();
    JpegWriter(const JpegWriter&) = delete;
    JpegWriter& operator=(const JpegWriter&) = delete;

private:
    jpeg_compress_struct& cinfo_;
    jpeg_error_mgr err_{};
    VectorDestination dest_{};
};

}  // namespace sim
