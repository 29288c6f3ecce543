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

bool FileChanges::Delete(const std::string& file, std::string& error) {
    if (!Keep(file, error))
        return false;
    std::error_code ec;
    if (!fs::remove(PathFromUtf8(file), ec)) {
        error = "cannot delete " + file + ": " + (ec ? ec.message() : "there is no such file");
        return false;
    }
    return true;
}

bool FileChanges::Rewrite(const std::string& file, const char* what,
                          const std::function<bool(std::vector<uint8_t>&)>& change,
                          std::string& error) {
    if (!Keep(file, error))
        return false;
    std::vector<uint8_t> bytes;
    if (!ReadBytes(PathFromUtf8(file), bytes)) {
        error = std::string("cannot ") + what + " " + file + ": it cannot be read";
        return false;
    }
    if (!change(bytes)) {
        error = std::string("cannot ") + what + " " + file + ": it holds only " +
                std::to_string(bytes.size()) + " bytes";
        return false;
    }
    std::error_code ec;
    if (!WriteBytes(PathFromUtf8(file), bytes, ec)) {
        error = std::string("cannot ") + what + " " + file + ": " + ec.message();
        return false;
    }
    return true;
}

bool FileChanges::Garbage(const std::string& file, std::string& error) {
    return Rewrite(
        file, "write garbage into",
        [](std::vector<uint8_t>& bytes) {
            if (bytes.empty())
                return false;
            // A fixed generator (xorshift), seeded by the length: the same noise on every run.
            uint64_t state = 0x9E3779B97F4A7C15ull ^ bytes.size();
            for (uint8_t& byte : bytes) {
                state ^= state << 13;
                state ^= state >> 7;
                state ^= state << 17;
                byte = static_cast<uint8_t>(state >> 24);
            }
            return true;
        },
        error);
}

bool FileChanges::Truncate(const std::string& file, long long bytes, std::string& error) {
    return Rewrite(
        file, "truncate",
        [bytes](std::vector<uint8_t>& content) {
            if (bytes < 0 || static_cast<unsigned long long>(bytes) >= content.size())
                return false;
            content.resize(static_cast<size_t>(bytes));
            return true;
        },
        error);
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
