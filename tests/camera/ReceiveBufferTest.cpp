// The receive buffer's stream callbacks, its bound, and the CRW preview walk over items
// whose directory points anywhere.
#include "camera/CrwPreviews.h"
#include "camera/ReceiveBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <numeric>

using namespace cdsdk;

namespace {

// Calls go through the stream record, as the library makes them.
struct Stream {
    explicit Stream(ReceiveBuffer& b) : s(*b.Stream()) {}
    cdError Open(uint32_t mode)
    {
        cdError e = 9;
        s.open(s.contextH, mode, &e);
        return e;
    }
    cdError Write(const void* data, uint32_t n, uint32_t* written = nullptr)
    {
        cdError e = 9;
        s.write(s.contextH, data, &n, &e);
        if (written)
            *written = n;
        return e;
    }
    cdError Read(void* data, uint32_t* n)
    {
        cdError e = 9;
        s.read(s.contextH, data, n, &e);
        return e;
    }
    cdError Seek(uint32_t origin, int32_t offset)
    {
        cdError e = 9;
        s.seek(s.contextH, origin, offset, &e);
        return e;
    }
    int32_t Tell()
    {
        cdError e = 9;
        return s.tell(s.contextH, &e);
    }
    cdStream& s;
};

std::vector<uint8_t> Count(size_t n)
{
    std::vector<uint8_t> v(n);
    std::iota(v.begin(), v.end(), 0);
    return v;
}

TEST(ReceiveBuffer, WritesGrowTheItemAndReadsGiveItBack)
{
    ReceiveBuffer buffer;
    Stream s(buffer);
    const auto bytes = Count(200000);
    ASSERT_EQ(s.Open(cdSTREAM_OPEN_WRITE), 0u);
    for (size_t done = 0; done < bytes.size(); done += 7000)
        ASSERT_EQ(s.Write(bytes.data() + done, static_cast<uint32_t>(std::min<size_t>(7000, bytes.size() - done))), 0u);
    EXPECT_EQ(buffer.Size(), bytes.size());
    EXPECT_EQ(s.Tell(), static_cast<int32_t>(bytes.size()));

    // Overwrite in the middle, then read everything back.
    ASSERT_EQ(s.Seek(cdSTREAM_SEEK_SET, 10), 0u);
    const uint8_t patch[3] = {0xAA, 0xBB, 0xCC};
    ASSERT_EQ(s.Write(patch, 3), 0u);
    EXPECT_EQ(buffer.Size(), bytes.size());
    ASSERT_EQ(s.Open(cdSTREAM_OPEN_READ), 0u);
    std::vector<uint8_t> back(bytes.size() + 10);
    uint32_t n = static_cast<uint32_t>(back.size());
    ASSERT_EQ(s.Read(back.data(), &n), 0u);
    EXPECT_EQ(n, bytes.size());
    back.resize(n);
    auto expected = bytes;
    std::memcpy(expected.data() + 10, patch, 3);
    EXPECT_EQ(back, expected);
    n = 5;
    EXPECT_EQ(s.Read(back.data(), &n), 1u);  // nothing left
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(buffer.TakeBytes(), expected);
}

TEST(ReceiveBuffer, WritesPastTheBoundAreRefusedWhole)
{
    ReceiveBuffer buffer(100);
    Stream s(buffer);
    const auto bytes = Count(100);
    s.Open(cdSTREAM_OPEN_WRITE);
    ASSERT_EQ(s.Write(bytes.data(), 60), 0u);
    EXPECT_EQ(s.Write(bytes.data(), 41), 1u);  // 60 + 41 > 100: nothing copied
    EXPECT_EQ(buffer.Size(), 60u);
    EXPECT_EQ(buffer.Position(), 60u);
    EXPECT_TRUE(buffer.WriteRefused());
    EXPECT_EQ(s.Write(bytes.data(), 40), 0u);  // exactly up to the bound is fine
    EXPECT_EQ(buffer.Size(), 100u);
    EXPECT_EQ(s.Write(bytes.data(), 1), 1u);
    EXPECT_EQ(s.Write(bytes.data(), 0xFFFFFFFFu), 1u);  // no wrap-around
    EXPECT_LE(buffer.Size(), buffer.Bound());
}

TEST(ReceiveBuffer, SizeHintReservesOnceAndAWrongHintDoesNoHarm)
{
    cdReleaseImageInfo record{};
    record.DataSize = 50000;
    ReceiveBuffer buffer;
    buffer.SetSizeHint(&record);
    Stream s(buffer);
    const auto bytes = Count(80000);  // more than announced
    s.Open(cdSTREAM_OPEN_WRITE);
    for (size_t done = 0; done < bytes.size(); done += 4096)
        ASSERT_EQ(s.Write(bytes.data() + done, static_cast<uint32_t>(std::min<size_t>(4096, bytes.size() - done))), 0u);
    EXPECT_EQ(buffer.TakeBytes(), bytes);
}

TEST(ReceiveBuffer, SeekRules)
{
    ReceiveBuffer buffer;
    Stream s(buffer);
    const auto bytes = Count(50);
    s.Open(cdSTREAM_OPEN_WRITE);
    s.Write(bytes.data(), 50);
    EXPECT_EQ(s.Seek(cdSTREAM_SEEK_SET, 49), 0u);
    EXPECT_EQ(s.Tell(), 49);
    EXPECT_EQ(s.Seek(cdSTREAM_SEEK_SET, 50), 1u);  // must be inside the item
    EXPECT_EQ(s.Seek(cdSTREAM_SEEK_SET, -1), 1u);
    EXPECT_EQ(s.Tell(), 49);
    EXPECT_EQ(s.Seek(cdSTREAM_SEEK_CUR, -9), 0u);
    EXPECT_EQ(s.Tell(), 40);
    EXPECT_EQ(s.Seek(cdSTREAM_SEEK_CUR, 10), 1u);
    EXPECT_EQ(s.Seek(cdSTREAM_SEEK_CUR, -41), 1u);
    EXPECT_EQ(s.Seek(cdSTREAM_SEEK_END, 50), 0u);
    EXPECT_EQ(s.Tell(), 0);
    EXPECT_EQ(s.Seek(cdSTREAM_SEEK_END, 0), 0u);
    EXPECT_EQ(s.Tell(), 50);
    EXPECT_EQ(s.Seek(cdSTREAM_SEEK_END, 51), 1u);
    EXPECT_EQ(s.Seek(cdSTREAM_SEEK_END, -1), 1u);
    EXPECT_EQ(s.Seek(7, 3), 0u);  // other origins change nothing
    EXPECT_EQ(s.Tell(), 50);
    // Opening for writing starts a new item; opening for reading keeps it.
    s.Open(cdSTREAM_OPEN_READ);
    EXPECT_EQ(buffer.Size(), 50u);
    s.Open(cdSTREAM_OPEN_WRITE);
    EXPECT_EQ(buffer.Size(), 0u);
}

// A CRW item: "II", heap start, then entries, the directory offset in the last 4 bytes.
std::vector<uint8_t> Crw(const std::vector<std::tuple<uint16_t, uint32_t, uint32_t>>& entries,
                         const std::vector<uint8_t>& heapData, int64_t dirOverride = -1)
{
    const uint32_t heap = 26;
    const size_t dirAt = heap + heapData.size();
    std::vector<uint8_t> out(dirAt + 2 + 10 * entries.size() + 4, 0);
    out[0] = 'I';
    out[1] = 'I';
    std::memcpy(&out[2], &heap, 4);
    std::copy(heapData.begin(), heapData.end(), out.begin() + heap);
    const uint16_t count = static_cast<uint16_t>(entries.size());
    std::memcpy(&out[dirAt], &count, 2);
    size_t at = dirAt + 2;
    for (const auto& [tag, length, offset] : entries) {
        std::memcpy(&out[at], &tag, 2);
        std::memcpy(&out[at + 2], &length, 4);
        std::memcpy(&out[at + 6], &offset, 4);
        at += 10;
    }
    const uint32_t d = dirOverride >= 0 ? static_cast<uint32_t>(dirOverride) : static_cast<uint32_t>(dirAt - heap);
    std::memcpy(&out[at], &d, 4);
    return out;
}

TEST(CrwPreviews, FindsPreviewsAndSkipsWhatPointsOutside)
{
    const std::vector<uint8_t> heapData = {0xFF, 0xD8, 1, 2, 3, 0xFF, 0xD9, 9, 9, 9};
    auto item = Crw({{0x2007, 7, 0}, {0x2005, 3, 7}, {0x2007, 0xFFFFFFF0, 0}, {0x2007, 4, 0xFFFFFFFE}}, heapData);
    auto previews = CrwPreviews(item);
    ASSERT_EQ(previews.size(), 1u);
    EXPECT_EQ(previews[0], std::vector<uint8_t>(heapData.begin(), heapData.begin() + 7));

    // A directory offset or a heap start beyond the item, a count larger than the
    // directory, and items too short to hold anything give nothing and read nothing outside.
    EXPECT_TRUE(CrwPreviews(Crw({{0x2007, 7, 0}}, heapData, 0x7FFFFFFF)).empty());
    auto farHeap = Crw({{0x2007, 7, 0}}, heapData);
    const uint32_t far = 0xFFFFFFF0;
    std::memcpy(farHeap.data() + 2, &far, 4);
    EXPECT_TRUE(CrwPreviews(farHeap).empty());
    auto lying = Crw({{0x2007, 7, 0}}, heapData);
    lying[26 + heapData.size()] = 0xFF;  // entry count 255
    EXPECT_EQ(CrwPreviews(lying).size(), 1u);
    for (size_t n = 0; n < 12; ++n)
        EXPECT_TRUE(CrwPreviews(std::vector<uint8_t>(n, 0xFF)).empty());
}

}  // namespace
