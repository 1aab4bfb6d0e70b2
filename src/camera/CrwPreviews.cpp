#include "camera/CrwPreviews.h"

#include <cstddef>
#include <new>

namespace {
uint32_t LittleEndian32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t LittleEndian16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

std::vector<std::vector<uint8_t>> CrwPreviews(const std::vector<uint8_t>& item)
{
    std::vector<std::vector<uint8_t>> out;
    const size_t n = item.size();
    if (n < 10)
        return out;
    const uint64_t heap = LittleEndian32(item.data() + 2);
    const uint64_t dir = heap + LittleEndian32(item.data() + n - 4);
    if (dir + 2 > n)
        return out;
    const uint16_t count = LittleEndian16(item.data() + dir);
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t e = dir + 2 + uint64_t{10} * i;
        if (e + 10 > n)
            break;
        const uint16_t tag = LittleEndian16(item.data() + e);
        const uint64_t length = LittleEndian32(item.data() + e + 2);
        const uint64_t start = heap + LittleEndian32(item.data() + e + 6);
        if (tag != 0x2007 || start > n || length > n - start)
            continue;
        try {
            out.emplace_back(item.begin() + static_cast<std::ptrdiff_t>(start),
                             item.begin() + static_cast<std::ptrdiff_t>(start + length));
        } catch (const std::bad_alloc&) {
            // This preview is not shown; the picture itself was handled already.
        }
    }
    return out;
}

