#include "cameras/camera_ids.h"

#include "platform/files.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <set>

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {
constexpr std::size_t max_file_bytes = 1024 * 1024;

bool whole_number(const std::string& text) {
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    // "007" would be a second spelling of "7".
    return !text.empty() && error == std::errc() && end == text.data() + text.size() && (text == "0" || text[0] != '0');
}
}  // namespace

std::optional<CameraIdMap> parse_camera_ids(std::string_view text) {
    json value = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (!value.is_object() || !value.contains("cameras") || !value["cameras"].is_object()) return std::nullopt;
    CameraIdMap ids;
    std::set<std::string> taken;
    for (const auto& [link, id] : value["cameras"].items()) {
        if (link.empty() || !id.is_string()) return std::nullopt;
        std::string number = id.get<std::string>();
        if (!whole_number(number) || !taken.insert(number).second) return std::nullopt;
        ids[link] = number;
    }
    return ids;
}

std::string camera_ids_text(const CameraIdMap& ids) {
    json cameras = json::object();
    for (const auto& [link, id] : ids) cameras[link] = id;
    return json{{"cameras", cameras}}.dump(2) + "\n";
}

std::string camera_id_for(CameraIdMap& ids, const std::string& link) {
    auto known = ids.find(link);
    if (known != ids.end()) return known->second;
    std::set<unsigned> taken;
    for (const auto& entry : ids) taken.insert(static_cast<unsigned>(std::stoul(entry.second)));
    unsigned free = 0;
    while (taken.count(free)) ++free;
    return ids[link] = std::to_string(free);
}

CameraIdStore::CameraIdStore(fs::path file, std::chrono::milliseconds lock_wait)
    : file_(std::move(file)), lock_wait_(lock_wait) {}

std::vector<std::string> CameraIdStore::ids_for(const std::vector<std::string>& links) {
    bool known = std::all_of(links.begin(), links.end(), [&](const std::string& link) { return ids_.count(link); });
    if (!known && file_usable_) {
        try {
            update(links);
        } catch (const std::exception& error) {
            // Not written this time; the next new camera tries again.
            problem_ = std::string("camera ids are kept for this run only: ") + error.what();
        }
    }
    std::vector<std::string> found;
    for (const auto& link : links) found.push_back(camera_id_for(ids_, link));
    return found;
}

void CameraIdStore::update(const std::vector<std::string>& links) {
    // The lock lives beside the file: on the first run, in a folder still to make.
    make_private_folder(file_.parent_path());
    FileLock lock(file_.parent_path() / (file_.filename().string() + ".lock"),
                  std::chrono::steady_clock::now() + lock_wait_);
    FileRead read = read_small_file(file_, max_file_bytes);
    CameraIdMap stored;
    if (read.status == FileRead::Status::ok) {
        auto parsed = parse_camera_ids(read.text);
        if (!parsed) {
            file_usable_ = false;
            problem_ = file_.string() + " holds no camera ids; ids are kept for this run only";
            return;
        }
        stored = std::move(*parsed);
    } else if (read.status != FileRead::Status::missing) {
        // Too large, or unreadable now: another try may read it, but it is
        // never written over unread.
        problem_ = "cannot read " + file_.string() + (read.reason.empty() ? "" : ": " + read.reason) +
                   "; ids are kept for this run only";
        return;
    }
    // Another app may have numbered cameras since the last reading: the
    // file's ids win; this run's own ids for links it lacks come after.
    bool changed = false;
    for (const auto& link : links) {
        if (!stored.count(link)) {
            camera_id_for(stored, link);
            changed = true;
        }
    }
    if (changed) write_file_atomically(file_, camera_ids_text(stored));
    ids_ = std::move(stored);
    problem_.clear();
}
