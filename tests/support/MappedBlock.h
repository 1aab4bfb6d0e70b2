// A test client's view of the remote-control block: the file mapped shared, so that a test
// reads and writes the fields as bytes, as a client in another language does (the program
// itself never maps it). Opens an existing block; the test keeps it open as long as it
// uses Data(). Test thread only.
#pragma once

#include "remote/RemoteProtocol.h"

#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

class MappedBlock {
public:
    MappedBlock() = default;
    ~MappedBlock() { Close(); }
    MappedBlock(const MappedBlock&) = delete;
    MappedBlock& operator=(const MappedBlock&) = delete;

    bool Open(const std::string& path)
    {
        Close();
        fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd_ < 0)
            return false;
        void* map = ::mmap(nullptr, remote::kBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
        if (map == MAP_FAILED) {
            Close();
            return false;
        }
        data_ = static_cast<uint8_t*>(map);
        return true;
    }
    void Close()
    {
        if (data_)
            ::munmap(data_, remote::kBlockSize);
        data_ = nullptr;
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    uint8_t* Data() const { return data_; }
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
    uint8_t* data_ = nullptr;
};
