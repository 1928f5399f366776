#pragma once
// Short ids for cameras that the system names only by long paths (Media
// Foundation's symbolic links, "\\?\usb#vid_046d&pid_085c&mi_00#..."): "0",
// "1", … as Video4Linux2's /dev/videoN give them on Linux. The file
// cameras.json in the config folder keeps which link has which id, so that a
// camera keeps its id across restarts of the app and while it is unplugged,
// and a camera plugged in later never renumbers the others.
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Link -> id.
using CameraIdMap = std::map<std::string, std::string>;

// The ids of the file's text; nullopt when it is not such a file (not JSON,
// another shape, an id that is not a whole number, or two links with one
// id).
std::optional<CameraIdMap> parse_camera_ids(std::string_view text);
std::string camera_ids_text(const CameraIdMap& ids);

// The link's id: the one it has, or else the lowest number no link has, which
// is then added.
std::string camera_id_for(CameraIdMap& ids, const std::string& link);

// The ids kept in a file, shared by every app that uses it (a lock beside
// it). Used by one thread at a time.
class CameraIdStore {
public:
    explicit CameraIdStore(std::filesystem::path file,
                           std::chrono::milliseconds lock_wait = std::chrono::milliseconds(2000));

    // The ids of `links`, in their order. New links are written to the file.
    // When the file cannot be read, or holds something else than ids, it is
    // left as it is (it may be the user's to mend) and the ids hold for this
    // run of the app only; `problem` then says so. Never throws.
    std::vector<std::string> ids_for(const std::vector<std::string>& links);
    const std::string& problem() const { return problem_; }

private:
    // Reads the file and adds `links`, writing it back when they are new.
    void update(const std::vector<std::string>& links);

    std::filesystem::path file_;
    std::chrono::milliseconds lock_wait_;
    CameraIdMap ids_;  // as last read or written, plus this run's own
    bool file_usable_ = true;
    std::string problem_;
};
