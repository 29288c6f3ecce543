#include "Transcript.h"

#include "Files.h"

namespace fxplayer {

Transcript::~Transcript() {
    Close();
}

bool Transcript::Open(const std::string& path) {
    file_ = OpenFile(path, "wb");
    failed_ = file_ == nullptr;
    lines_ = 0;
    return file_ != nullptr;
}

bool Transcript::Close() {
    if (file_) {
        if (std::fclose(file_) != 0)
            failed_ = true;
        file_ = nullptr;
    }
    return !failed_;
}

void Transcript::Add(const char* kind, const std::string& text) {
    if (!file_)
        return;
    std::string line;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%.3f ", seconds_);
    line += stamp;
    if (source_ > 0)
        line += "source " + std::to_string(source_) + " ";
    line += kind;
    if (!text.empty())
        line += ' ';
    // Log texts often end in a line break of their own; it is not part of what was said.
    size_t end = text.size();
    while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r'))
        --end;
    for (size_t i = 0; i < end; ++i) {
        char c = text[i];
        if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else {
            line += c;
        }
    }
    line += '\n';
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size())
        failed_ = true;
    ++lines_;
}

}  // namespace fxplayer
