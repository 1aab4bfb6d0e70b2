// Test seam of the no-replace writer: forces the way the finished temporary file gets
// its final name, so the fallbacks for file systems without hard links can be exercised
// on any disk. Tests only; the program leaves it at Auto. Any thread; never blocks.
#pragma once

#include <functional>
#include <string>

namespace storage {

enum class NoReplaceMethod {
    Auto = 0,   // hard link, then exclusive rename, then direct exclusive write
    Rename = 1, // exclusive rename (RENAME_NOREPLACE), then direct exclusive write
    Direct = 2, // create the final name exclusively and write into it
};

void ForceNoReplaceMethodForTest(NoReplaceMethod method);

// Makes every write into a folder for which `fault` returns an errno value fail with that
// value, as a full, read-only or forbidden folder would (ENOSPC, EROFS, EACCES); 0 lets the
// write go on. An empty function removes the fault. Set before the writers run.
void SetWriteFaultForTest(std::function<int(const std::string& folder)> fault);

// How many temporary files the writer has created and filled so far in this process.
int TemporaryFilesWrittenForTest();

} // namespace storage
