#pragma once

#include <cstdint>

#include "HostExport.h"

enum XFileAccess : unsigned { XFILE_READ = 1, XFILE_WRITE = 2 };
enum XFileDisposition : unsigned {
    XFILE_CREATENEW = 1,
    XFILE_CREATEALWAYS = 2,
    XFILE_OPENEXISTING = 3,
    XFILE_OPENALWAYS = 4,
};

// A file opened by path. The destructor closes it.
class HOSTAPI XFile {
public:
    XFile();
    ~XFile();
    XFile(const XFile&) = delete;
    XFile& operator=(const XFile&) = delete;

    // Nonzero on success.
    bool Open(const wchar_t* path, unsigned access, unsigned disposition);
    // The file's size in bytes now, 0 when not open.
    uint64_t GetFileSize() const;
    // Reads up to `size` bytes at the current position; returns the count read.
    unsigned Read(void* buffer, unsigned size);
    void Close();
    bool IsOpen() const { return file_ != nullptr; }

private:
    void* file_;
};
