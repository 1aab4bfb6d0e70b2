#include "imaging/JpegSupport.h"

#include <cstdlib>
#include <cstring>

#include <jerror.h>

namespace {

void OutputMessage(j_common_ptr cinfo)
{
    auto* handler = reinterpret_cast<JpegErrorHandler*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, handler->message);
    std::longjmp(handler->jump, 1);
}

void ErrorExit(j_common_ptr cinfo)
{
    (*cinfo->err->output_message)(cinfo);  // leaves by longjmp; the rest is never reached
    jpeg_destroy(cinfo);
    std::exit(1);
}

// The end-of-image marker handed to libjpeg when the buffer runs out.
const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

void InitSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr cinfo)
{
    // The whole buffer was given at the start, so libjpeg only asks again once it is
    // used up. The warning ends the decode; the marker is there in case it does not.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    cinfo->src->next_input_byte = kEndOfImage;
    cinfo->src->bytes_in_buffer = sizeof kEndOfImage;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count)
{
    if (count <= 0)
        return;
    jpeg_source_mgr* src = cinfo->src;
    const auto want = static_cast<unsigned long>(count);
    if (want <= src->bytes_in_buffer) {
        src->next_input_byte += want;
        src->bytes_in_buffer -= want;
        return;
    }
    // Skipping past the end: stop at the end and report it as running out of data.
    src->next_input_byte += src->bytes_in_buffer;
    src->bytes_in_buffer = 0;
    (*src->fill_input_buffer)(cinfo);
}

void TermSource(j_decompress_ptr) {}

} // namespace

jpeg_error_mgr* InstallJpegErrorHandler(JpegErrorHandler& handler)
{
    jpeg_std_error(&handler.mgr);
    handler.mgr.output_message = OutputMessage;
    handler.mgr.error_exit = ErrorExit;
    std::memset(handler.message, 0, sizeof handler.message);
    return &handler.mgr;
}

void InstallMemorySource(j_decompress_ptr cinfo, const uint8_t* data, size_t length)
{
    if (cinfo->src == nullptr) {
        cinfo->src = static_cast<jpeg_source_mgr*>(
            (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(jpeg_source_mgr)));
    }
    jpeg_source_mgr* src = cinfo->src;
    src->init_source = InitSource;
    src->fill_input_buffer = FillInputBuffer;
    src->skip_input_data = SkipInputData;
    src->resync_to_restart = jpeg_resync_to_restart;
    src->term_source = TermSource;
    src->next_input_byte = data;
    src->bytes_in_buffer = length;
}
