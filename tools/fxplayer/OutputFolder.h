#pragma once

// The output folder, written as a whole or not at all: everything goes into a hidden folder beside
// it, which replaces it only when the run has finished well. A failed run leaves the earlier
// output as it was.
#include <string>

namespace fxplayer {

class OutputFolder {
public:
    OutputFolder() = default;
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    // Checks that `target` may be replaced (it is absent, empty, or an earlier output of the
    // player) and makes the working folder with its frames/ folder.
    bool Prepare(const std::string& target, std::string& error);
    // A path inside the working folder.
    std::string Path(const std::string& name) const;
    // Puts the working folder in the target's place.
    bool Commit(std::string& error);
    // Removes the working folder (also done by the destructor unless committed).
    void Discard();

    const std::string& Target() const { return target_; }

private:
    std::string target_;
    std::string working_;
    bool committed_ = false;
};

}  // namespace fxplayer
