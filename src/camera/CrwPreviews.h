// CrwPreviews: the JPEG previews (heap entries with tag 0x2007) inside a RAW picture in
// CRW form, as copies ready for display. All numbers are little-endian: the heap starts at
// the 32-bit value at offset 2, the directory offset (relative to the heap) is in the last
// 4 bytes, the directory is a 16-bit count of 10-byte entries (tag, length, offset). Nothing
// outside the item is ever read: entries that point outside it are skipped, and a
// directory that does not fit gives nothing. A preview that cannot be allocated is left
// out. Any thread; never blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

std::vector<std::vector<uint8_t>> CrwPreviews(const std::vector<uint8_t>& item);
