#pragma once
// A folder of its own for one recording's files, in the temporary folder,
// removed with everything in it when the recording ends. An app that is
// killed cannot remove it, so every such folder holds a lock file that its
// app keeps locked (flock) for as long as it lives: a folder whose lock can
// be taken belongs to an app that is gone, and the next app to start
// removes it. Two apps may share the temporary folder; neither removes what
// the other is still using.
#include <filesystem>

class ScratchFolder {
public:
    // In `parent` (the temporary folder). Throws std::runtime_error.
    explicit ScratchFolder(const std::filesystem::path& parent);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    int lock_fd_ = -1;
};

// Removes the scratch folders in `parent` whose app is gone; returns how many.
int remove_abandoned_scratch(const std::filesystem::path& parent);
