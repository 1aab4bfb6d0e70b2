// Test seam of the no-replace writer: forces the way the finished temporary file gets
// its final name, so the fallbacks for file systems without hard links can be exercised
// on any disk. Tests only; the program leaves it at Auto. Any thread; never blocks.
#pragma once

namespace storage {

enum class NoReplaceMethod {
    Auto = 0,   // hard link, then exclusive rename, then direct exclusive write
    Rename = 1, // exclusive rename (RENAME_NOREPLACE), then direct exclusive write
    Direct = 2, // create the final name exclusively and write into it
};

void ForceNoReplaceMethodForTest(NoReplaceMethod method);

// How many temporary files the writer has created and filled so far in this process.
int TemporaryFilesWrittenForTest();

} // namespace storage
