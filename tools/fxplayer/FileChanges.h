#pragma once

// The files a script changes on disk (replace, touch, delete, write), and putting them back: each
// file's bytes and modification time are kept before its first change and restored when the run
// ends, however it ends, so that the next run starts from the same files and plays the same way.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fxplayer {

class FileChanges {
public:
    FileChanges() = default;
    ~FileChanges();
    FileChanges(const FileChanges&) = delete;
    FileChanges& operator=(const FileChanges&) = delete;

    // `file` takes `other`'s bytes (written beside it and renamed over it, as editors save).
    bool Replace(const std::string& file, const std::string& other, std::string& error);
    // `file`'s modification time becomes now.
    bool Touch(const std::string& file, std::string& error);
    // `file` is removed.
    bool Delete(const std::string& file, std::string& error);
    // `file`'s bytes become as many bytes of noise, the same for a file of that length on every
    // run, so that runs repeat.
    bool Garbage(const std::string& file, std::string& error);
    // `file` keeps its first `bytes` bytes; fewer than it holds, or the change would be none.
    bool Truncate(const std::string& file, long long bytes, std::string& error);
    // Puts every changed file back as it was. False with `error` naming those it could not.
    bool Restore(std::string& error);

private:
    struct Original {
        std::string path;
        bool existed = false;
        std::vector<uint8_t> bytes;
        std::filesystem::file_time_type modified;
    };
    bool Keep(const std::string& file, std::string& error);
    // Hands `file`'s bytes (the file kept first) to `change` and writes back what it leaves;
    // `change` returns false when the file is too short for it, which is an error naming `what`.
    bool Rewrite(const std::string& file, const char* what,
                 const std::function<bool(std::vector<uint8_t>&)>& change, std::string& error);

    std::vector<Original> originals_;
};

}  // namespace fxplayer
