// ReceiveBuffer: where the camera library writes one downloaded item, through the six
// stream callbacks (open, close, read, write, seek, tell). The buffer grows on demand up to
// a bound (1 GiB by default); a write that would pass the bound is refused with error 1 and
// copies nothing, so position and size always stay within the bound. A failed allocation
// is refused the same way and remembered (AllocationFailed), so the item is dropped rather
// than the program.
// Threads: one download at a time, on the thread that called CDGetReleasedData; the buffer
// is created and destroyed by the release thread. Calls never block.
#pragma once

#include "camera/CameraLibrary.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class ReceiveBuffer {
public:
    static constexpr size_t kDefaultBound = size_t{1} << 30;

    explicit ReceiveBuffer(size_t bound = kDefaultBound);
    virtual ~ReceiveBuffer() = default;
    ReceiveBuffer(const ReceiveBuffer&) = delete;
    ReceiveBuffer& operator=(const ReceiveBuffer&) = delete;

    cdsdk::cdStream* Stream() { return &stream_; }
    cdsdk::cdStgMedium Medium() { return {cdsdk::cdMEMTYPE_STREAM, &stream_}; }

    const uint8_t* Data() const { return data_.data(); }
    size_t Size() const { return size_; }
    size_t Position() const { return position_; }
    size_t Bound() const { return bound_; }
    bool WriteRefused() const { return refused_; }
    bool AllocationFailed() const { return allocationFailed_; }
    // The release record the library fills; when it gives the item's size before the
    // bytes come, the buffer reserves that much at once.
    void SetSizeHint(const cdsdk::cdReleaseImageInfo* record) { sizeHint_ = record; }
    // Takes the received bytes out of the buffer (exactly Size() bytes), leaving it empty.
    std::vector<uint8_t> TakeBytes();

    // The stream operations (the callbacks forward to these).
    uint32_t Open(uint32_t mode);
    uint32_t Close();
    uint32_t Read(void* dst, uint32_t* count);
    uint32_t Write(const void* src, uint32_t* count);
    uint32_t Seek(uint32_t origin, int32_t offset);
    int32_t Tell() const { return static_cast<int32_t>(position_); }

private:
    cdsdk::cdStream stream_;
    std::vector<uint8_t> data_;  // data_.size() is the highest offset written: size_
    const cdsdk::cdReleaseImageInfo* sizeHint_ = nullptr;
    size_t bound_;
    size_t position_ = 0;
    size_t size_ = 0;
    bool refused_ = false;
    bool allocationFailed_ = false;
};
