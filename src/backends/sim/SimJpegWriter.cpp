#include "backends/sim/SimJpegWriter.h"

#include <stdexcept>

namespace sim {

namespace {

void InitDestination(j_compress_ptr cinfo)
{
    auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
    d->pub.next_output_byte = d->out->data();
    d->pub.free_in_buffer = d->out->size();
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo)
{
    auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
    const size_t used = d->out->size();
    d->out->resize(used * 2);
    d->pub.next_output_byte = d->out->data() + used;
    d->pub.free_in_buffer = d->out->size() - used;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo)
{
    auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
    d->out->resize(d->out->size() - d->pub.free_in_buffer);
}

[[noreturn]] void ThrowJpegError(j_common_ptr cinfo)
{
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, message);
    throw std::runtime_error(message);
}

}  // namespace

JpegWriter::JpegWriter(jpeg_compress_struct& cinfo, std::vector<uint8_t>& out, size_t reserve) : cinfo_(cinfo)
{
    cinfo_.err = jpeg_std_error(&err_);
    err_.error_exit = ThrowJpegError;
    jpeg_create_compress(&cinfo_);
    out.resize(reserve);
    dest_.out = &out;
    dest_.pub.init_destination = InitDestination;
    dest_.pub.empty_output_buffer = EmptyOutputBuffer;
    dest_.pub.term_destination = TermDestination;
    cinfo_.dest = &dest_.pub;
}

JpegWriter::~JpegWriter()
{
    jpeg_destroy_compress(&cinfo_);
}

}  // namespace sim
