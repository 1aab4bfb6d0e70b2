// The program's own libjpeg source and error managers, shared by both decode entry
// points (and by anything else that wants to ask libjpeg about a buffer in memory).
// Whoever uses them owns the decompression object; one thread per object. No call blocks.
//
// Leaving libjpeg on failure: an error, and the first warning of a decode, end in
// `output_message`, which formats libjpeg's text into the handler and longjmps to the
// handler's `jump`. The caller arms `jump` with setjmp around every libjpeg call, then
// destroys the decompression object and raises JpegError itself, so no C++ exception
// ever unwinds through libjpeg's C frames.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first

#include <jpeglib.h>

struct JpegErrorHandler {
    jpeg_error_mgr mgr;                // first member: libjpeg only sees this part
    std::jmp_buf jump;                 // armed by the caller before each libjpeg call
    char message[JMSG_LENGTH_MAX];     // libjpeg's formatted text of the failure
};

// Fills `handler` with libjpeg's standard manager, replaces `output_message` and
// `error_exit`, clears the message and returns the manager for `cinfo.err`.
jpeg_error_mgr* InstallJpegErrorHandler(JpegErrorHandler& handler);

// Installs the memory source over [data, data + length) on a created decompression
// object. The source structure comes from libjpeg's permanent pool the first time and
// is reused afterwards. It never reads or moves past the end of the buffer: asked for
// more data, it supplies an end-of-image marker and raises libjpeg's warning
// "Premature end of JPEG file", which ends the decode.
void InstallMemorySource(j_decompress_ptr cinfo, const uint8_t* data, size_t length);
