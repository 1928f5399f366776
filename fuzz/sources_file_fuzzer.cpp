// vistrel-app's sources file (sources.json), as a person or another program
// may have left it: loaded from disk, changed under its lock and saved.
//
// Input: the file's bytes.
//
// A file either loads or is refused as unreadable, never anything else; what
// loads is the list the text holds, is written back as text that reads as
// the same list, and a change saved under the lock keeps every other entry.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "check.h"
#include "sources/sources_store.h"

namespace fs = std::filesystem;

namespace {
bool same(const std::vector<NetSource>& a, const std::vector<NetSource>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const NetSource& x, const NetSource& y) { return x.name == y.name && x.url == y.url; });
}

// A folder of this process's own, removed when the process ends; in memory
// where there is /dev/shm, as every save flushes the file to disk.
const fs::path& folder() {
    static const fs::path path = [] {
        std::error_code error;
        fs::path base = fs::is_directory("/dev/shm", error) ? fs::path("/dev/shm") : fs::temp_directory_path();
        fs::path made = base / ("vistrel-sources-fuzz-" + std::to_string(::getpid()));
        fs::remove_all(made);
        fs::create_directories(made);
        std::atexit([] { fs::remove_all(folder()); });
        return made;
    }();
    return path;
}

void write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    FUZZ_CHECK(out.good(), "the fuzz target could not write its file");
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    const fs::path file = folder() / "vistrel" / "sources.json";
    fs::create_directories(file.parent_path());
    write_file(file, text);

    std::vector<NetSource> loaded;
    bool readable = true;
    try {
        loaded = load_sources(file);
    } catch (const SourcesUnreadable& unreadable) {
        FUZZ_CHECK(*unreadable.what() != '\0', "an unreadable file without a reason");
        readable = false;
    }
    bool parsed = true;
    try {
        FUZZ_CHECK(same(sources_from_text(text), loaded), "the file and its text load as different lists");
    } catch (const SourcesUnreadable&) {
        parsed = false;
    }
    FUZZ_CHECK(parsed == readable, "the file and its text differ in whether they load");
    if (!readable) {
        // A change never overwrites a file it cannot read.
        bool changed = false;
        try {
            update_sources(file, [&](std::vector<NetSource>&) { return changed = true; });
        } catch (const SourcesUnreadable&) {
        }
        FUZZ_CHECK(!changed, "a file that could not be read was changed");
        return 0;
    }

    std::string written = sources_to_text(loaded);
    FUZZ_CHECK(same(sources_from_text(written), loaded), "the list written as text reads back as another list");
    FUZZ_CHECK(sources_to_text(sources_from_text(written)) == written, "the written text is not a fixed point");

    // Adds one source under the lock, as the app does, then removes it.
    NetSource extra{"fuzz extra", "http://192.0.2.1:8080/shot.jpg"};
    update_sources(file, [&](std::vector<NetSource>& sources) {
        sources.push_back(extra);
        return true;
    });
    std::vector<NetSource> after = load_sources(file);
    std::vector<NetSource> expected = loaded;
    expected.push_back(extra);
    FUZZ_CHECK(same(after, expected), "saving a change lost or altered an entry");
    update_sources(file, [&](std::vector<NetSource>& sources) {
        sources.pop_back();
        return true;
    });
    FUZZ_CHECK(same(load_sources(file), loaded), "removing the change did not give the list back");
    remove_leftover_temp_files(file);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(file.parent_path())) ++entries;
    FUZZ_CHECK(entries == 2, "files other than the list and its lock were left behind");
    return 0;
}
