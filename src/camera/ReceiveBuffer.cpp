#include "camera/ReceiveBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

using namespace cdsdk;

namespace {
ReceiveBuffer* Self(cdContext ctx) { return static_cast<ReceiveBuffer*>(ctx); }

void OpenCb(cdContext ctx, uint32_t mode, cdError* err) { *err = Self(ctx)->Open(mode); }
void CloseCb(cdContext ctx, cdError* err) { *err = Self(ctx)->Close(); }
void ReadCb(cdContext ctx, void* dst, uint32_t* count, cdError* err) { *err = Self(ctx)->Read(dst, count); }
void WriteCb(cdContext ctx, const void* src, uint32_t* count, cdError* err) { *err = Self(ctx)->Write(src, count); }
void SeekCb(cdContext ctx, uint32_t origin, int32_t offset, cdError* err) { *err = Self(ctx)->Seek(origin, offset); }
int32_t TellCb(cdContext ctx, cdError* err)
{
    *err = 0;
    return Self(ctx)->Tell();
}
}  // namespace

ReceiveBuffer::ReceiveBuffer(size_t bound) : bound_(bound)
{
    stream_ = {this, &OpenCb, &CloseCb, &ReadCb, &WriteCb, &SeekCb, &TellCb};
}

std::vector<uint8_t> ReceiveBuffer::TakeBytes()
{
    data_.resize(size_);
    std::vector<uint8_t> out = std::move(data_);
    data_.clear();
    position_ = size_ = 0;
    return out;
}

uint32_t ReceiveBuffer::Open(uint32_t mode)
{
    position_ = 0;
    if (mode == cdSTREAM_OPEN_WRITE) {
        size_ = 0;
        data_.clear();
    }
    return 0;
}

uint32_t ReceiveBuffer::Close() { return 0; }

uint32_t ReceiveBuffer::Read(void* dst, uint32_t* count)
{
    const size_t left = size_ > position_ ? size_ - position_ : 0;
    const size_t n = std::min<size_t>(*count, left);
    if (n == 0) {
        *count = 0;
        return 1;
    }
    std::memcpy(dst, data_.data() + position_, n);
    position_ += n;
    *count = static_cast<uint32_t>(n);
    return 0;
}

uint32_t ReceiveBuffer::Write(const void* src, uint32_t* count)
{
    const size_t n = *count;
    if (n > bound_ || position_ > bound_ - n) {
        refused_ = true;
        return 1;
    }
    const size_t end = position_ + n;
    const auto* bytes = static_cast<const uint8_t*>(src);
    try {
        if (end > data_.capacity()) {
            // The size the library announced for the item, when it did, is reserved at
            // once; otherwise the space grows by half again, so the item is copied only a
            // few times while it arrives.
            size_t want = std::max(end, std::min(bound_, data_.capacity() + data_.capacity() / 2 + 64 * 1024));
            const size_t announced = sizeHint_ ? sizeHint_->DataSize : 0;  // a packed field, read by value
            if (announced >= end && announced <= bound_)
                want = announced;
            data_.reserve(want);
        }
        // Overwrite what is already there, append the rest (appending does not zero-fill).
        const size_t overlap = std::min(n, data_.size() - std::min(data_.size(), position_));
        if (overlap)
            std::memcpy(data_.data() + position_, bytes, overlap);
        if (overlap < n)
            data_.insert(data_.end(), bytes + overlap, bytes + n);
    } catch (const std::bad_alloc&) {
        allocationFailed_ = true;
        return 1;
    } catch (const std::length_error&) {
        allocationFailed_ = true;
        return 1;
    }
    position_ = end;
    size_ = std::max(size_, position_);
    return 0;
}

uint32_t ReceiveBuffer::Seek(uint32_t origin, int32_t offset)
{
    const int64_t pos = static_cast<int64_t>(position_);
    const int64_t size = static_cast<int64_t>(size_);
    switch (origin) {
    case cdSTREAM_SEEK_SET:
        if (offset >= 0 && offset < size) {
            position_ = static_cast<size_t>(offset);
            return 0;
        }
        return 1;
    case cdSTREAM_SEEK_CUR:
        if (pos + offset >= 0 && pos + offset < size) {
            position_ = static_cast<size_t>(pos + offset);
            return 0;
        }
        return 1;
    case cdSTREAM_SEEK_END:
        if (offset >= 0 && offset <= size) {
            position_ = static_cast<size_t>(size - offset);
            return 0;
        }
        return 1;
    default:
        return 0;
    }
}
