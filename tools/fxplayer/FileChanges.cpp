#include "FileChanges.h"

#include <fstream>
#include <iterator>
#include <system_error>

#include "Files.h"

namespace fxplayer {

namespace fs = std::filesystem;

namespace {

bool ReadBytes(const fs::path& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Through a temporary beside `path`, so that the file is never seen half written.
bool WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes, std::error_code& ec) {
    fs::path temporary = path;
    temporary += ".fxplayer-new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) {
            out.close();
            std::error_code ignored;
            fs::remove(temporary, ignored);
            ec = std::make_error_code(std::errc::io_error);
            return false;
        }
    }
    fs::rename(temporary, path, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return false;
    }
    return true;
}

}  // namespace

FileChanges::~FileChanges() {
    std::string ignored;
    Restore(ignored);
}

bool FileChanges::Keep(const std::string& file, std::string& error) {
    for (const Original& original : originals_)
        if (original.path == file)
            return true;
    Original original;
    original.path = file;
    fs::path path = PathFromUtf8(file);
    std::error_code ec;
    original.existed = fs::exists(path, ec);
    if (original.existed) {
        original.modified = fs::last_write_time(path, ec);
        if (ec || !ReadBytes(path, original.bytes)) {
            error = "cannot read " + file + " to keep it";
            return false;
        }
    }
    originals_.push_back(std::move(original));
    return true;
}

bool FileChanges::Replace(const std::string& file, const std::string& other, std::string& error) {
    if (!Keep(file, error))
        return false;
    std::vector<uint8_t> bytes;
    if (!ReadBytes(PathFromUtf8(other), bytes)) {
        error = "cannot read " + other;
        return false;
    }
    std::error_code ec;
    if (!WriteBytes(PathFromUtf8(file), bytes, ec)) {
        error = "cannot replace " + file + ": " + ec.message();
        return false;
    }
    return true;
}

bool FileChanges::Touch(const std::string& file, std::string& error) {
    if (!Keep(file, error))
        return false;
    std::error_code ec;
    fs::last_write_time(PathFromUtf8(file), fs::file_time_type::clock::now(), ec);
    if (ec) {
        error = "cannot touch " + file + ": " + ec.message();
        return false;
    }
    return true;
}

bool FileChanges::Restore(std::string& error) {
    std::string failed;
    for (const Original& original : originals_) {
        fs::path path = PathFromUtf8(original.path);
        std::error_code ec;
        if (!original.existed) {
            fs::remove(path, ec);
        } else if (WriteBytes(path, original.bytes, ec)) {
            fs::last_write_time(path, original.modified, ec);
        }
        if (ec)
            failed += (failed.empty() ? "" : ", ") + original.path;
    }
    originals_.clear();
    if (failed.empty())
        return true;
    error = "could not put back as they were: " + failed;
    return false;
}

}  // namespace fxplayer
