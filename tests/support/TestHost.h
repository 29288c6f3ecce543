#pragma once

// Small helpers shared by the tests.
#include <stdexcept>
#include <string>
#include <vector>

#include "standin/Standin.h"

namespace testsupport {

// What DumpError throws in tests, so that a fatal report can be asserted on.
struct FatalError : std::runtime_error {
    explicit FatalError(const std::wstring& text)
        : std::runtime_error(standin::ToUtf8(text)), wide(text) {}
    std::wstring wide;
};

// The texts of the log records so far, in order.
inline std::vector<std::wstring> LogTexts() {
    std::vector<std::wstring> texts;
    for (const auto& record : standin::LogRecords())
        texts.push_back(record.text);
    return texts;
}

// How many log records have exactly this text.
inline size_t CountLog(const std::wstring& text) {
    size_t n = 0;
    for (const auto& record : standin::LogRecords())
        if (record.text == text)
            ++n;
    return n;
}

// A folder of its own under the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    // Writes bytes to a file in the folder and returns its path.
    std::string Write(const std::string& name, const std::vector<unsigned char>& bytes) const;

private:
    std::string path_;
};

}  // namespace testsupport
