// What the benchmarks share: one QApplication for the program (offscreen unless a platform
// is named), and the process's resident memory. Main thread only; nothing blocks.
#pragma once

#include <QApplication>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <unistd.h>

namespace bench {

inline QApplication& App()
{
    static int argc = 1;
    static char* argv[] = {program_invocation_short_name, nullptr};
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static auto* app = new QApplication(argc, argv);
    return *app;
}

// Resident memory once the heap has given its free pages back, so that what is counted
// is memory in use rather than the allocator's free lists.
inline double RssMb()
{
    malloc_trim(0);
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

}  // namespace bench
