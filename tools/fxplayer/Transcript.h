#pragma once

// transcript.txt: one line per event, in the order the events happened, each starting with the
// time of the frame they belong to.
#include <cstdio>
#include <string>

namespace fxplayer {

class Transcript {
public:
    Transcript() = default;
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    bool Open(const std::string& path);
    // False when a write failed since Open; the file is closed either way.
    bool Close();

    // The frame time stamped on the lines that follow.
    void SetTime(double seconds) { seconds_ = seconds; }
    double Time() const { return seconds_; }

    // The source the lines that follow come from (from 1), named after the time; 0: none.
    void SetSource(int source) { source_ = source; }

    // "<time> [source N ]<kind> <text>"; line breaks inside the text are written as \n so that
    // each event stays one line.
    void Add(const char* kind, const std::string& text);
    size_t Lines() const { return lines_; }

private:
    FILE* file_ = nullptr;
    double seconds_ = 0.0;
    int source_ = 0;
    size_t lines_ = 0;
    bool failed_ = false;
};

}  // namespace fxplayer
