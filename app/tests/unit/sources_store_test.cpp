#include "sources/sources_store.h"

#include "fault.h"
#include "platform/files.h"
#include "sources/registered_sources.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>

#include "no_descriptors_left.h"
#endif

#include <fstream>
#include <iterator>
#include <random>
#include <thread>

namespace fs = std::filesystem;

namespace {
struct TempFolder {
    fs::path path;
    TempFolder() {
        std::random_device random;
        path = fs::temp_directory_path() / ("vistrel-sources-test-" + std::to_string(random()));
        fs::create_directory(path);
    }
    ~TempFolder() { fs::remove_all(path); }
};

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void expect_same(const std::vector<NetSource>& a, const std::vector<NetSource>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].name, b[i].name);
        EXPECT_EQ(a[i].url, b[i].url);
    }
}

const std::vector<NetSource> sample = {
    {"phone", "http://192.168.1.50:8080/shot.jpg"},
    {"my phone", "http://10.0.0.2/photo.jpg?q=1&x=\"y\""},
    {"t\xc3\xa9l\xc3\xa9phone", "http://cam/"},
};

TEST(SourcesStore, TextRoundTripKeepsOrderAndEveryCharacter) {
    expect_same(sources_from_text(sources_to_text(sample)), sample);
    expect_same(sources_from_text(sources_to_text({})), {});
}

TEST(SourcesStore, SaveThenLoadLeavesOnlyTheFile) {
    TempFolder temp;
    fs::path file = temp.path / "nested" / "vistrel" / "sources.json";
    EXPECT_TRUE(load_sources(file).empty()) << "a missing file is an empty list";
    save_sources(file, sample);
    expect_same(load_sources(file), sample);
    save_sources(file, {sample[1]});
    expect_same(load_sources(file), {sample[1]});
    std::size_t entries = std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator());
    EXPECT_EQ(entries, 1u) << "no temporary file may be left behind";
}

TEST(SourcesStore, UnreadableFilesAreReportedAndLeftAlone) {
    TempFolder temp;
    fs::path file = temp.path / "sources.json";
    for (const char* text : {"{not json", "[]", "{\"sources\":{}}", "{\"sources\":[{\"name\":\"a\"}]}",
                             "{\"sources\":[{\"name\":1,\"url\":\"http://x/\"}]}", ""}) {
        std::ofstream(file, std::ios::binary) << text;
        EXPECT_THROW(load_sources(file), SourcesFileError) << text;
        EXPECT_EQ(read_text(file), text);
    }
    fs::remove(file);
    fs::create_directory(file);
    EXPECT_THROW(load_sources(file), SourcesFileError) << "a folder in the file's place";
}

TEST(SourcesStore, SaveFailureKeepsTheOldFile) {
    TempFolder temp;
    fs::path file = temp.path / "sources.json";
    save_sources(file, sample);
    fs::path blocked = temp.path / "blocked" / "sources.json";
    std::ofstream(temp.path / "blocked") << "a file where the folder should be";
    EXPECT_THROW(save_sources(blocked, sample), SourcesFileError);
    expect_same(load_sources(file), sample);
}

TEST(SourcesStore, ChangesFromSeveralAppsAtOnceAreAllKept) {
    // Each thread opens the lock file for itself, as another app would.
    TempFolder temp;
    fs::path file = temp.path / "vistrel" / "sources.json";
    std::vector<std::thread> apps;
    for (int app = 0; app < 2; ++app) {
        apps.emplace_back([&, app] {
            for (int i = 0; i < 30; ++i) {
                update_sources(file, [&](std::vector<NetSource>& sources) {
                    sources.push_back({"cam-" + std::to_string(app) + "-" + std::to_string(i), "http://cam/"});
                    return true;
                });
            }
        });
    }
    for (auto& app : apps) app.join();
    EXPECT_EQ(load_sources(file).size(), 60u);
}

TEST(SourcesStore, AChangeThatIsWithdrawnLeavesTheFileAlone) {
    TempFolder temp;
    fs::path file = temp.path / "sources.json";
    save_sources(file, sample);
    std::string before = read_text(file);
    update_sources(file, [](std::vector<NetSource>& sources) {
        sources.clear();
        return false;
    });
    EXPECT_THROW(update_sources(file,
                                [](std::vector<NetSource>& sources) -> bool {
                                    sources.clear();
                                    throw std::runtime_error("refused");
                                }),
                 std::runtime_error);
    EXPECT_EQ(read_text(file), before);
}

TEST(SourcesStore, TemporaryFilesOfAKilledAppAreRemoved) {
    TempFolder temp;
    fs::path file = temp.path / "sources.json";
    save_sources(file, sample);
    std::ofstream(temp.path / ".sources.json.tmp-99999-0") << "half written";
    std::ofstream(temp.path / "notes.txt") << "not ours";
    remove_leftover_temp_files(file);
    EXPECT_FALSE(fs::exists(temp.path / ".sources.json.tmp-99999-0"));
    EXPECT_TRUE(fs::exists(temp.path / "notes.txt"));
    expect_same(load_sources(file), sample);
    remove_leftover_temp_files(temp.path / "missing" / "sources.json");
    EXPECT_FALSE(fs::exists(temp.path / "missing"));
}

#ifndef _WIN32
TEST(SourcesStore, TheFolderAndFileAreTheUsersOnlyWhateverTheUmask) {
    TempFolder temp;
    fs::path file = temp.path / "config" / "vistrel" / "sources.json";
    mode_t old = umask(0);
    update_sources(file, [](std::vector<NetSource>& sources) {
        sources.push_back({"phone", "http://cam/"});
        return true;
    });
    umask(old);
    auto mode = [](const fs::path& path) {
        struct stat info {};
        stat(path.c_str(), &info);
        return info.st_mode & 0777;
    };
    EXPECT_EQ(mode(temp.path / "config"), 0700u);
    EXPECT_EQ(mode(file.parent_path()), 0700u);
    EXPECT_EQ(mode(file), 0600u);
}
#endif

// What a request that changes the sources gets.
Fault change_refused(const SourcesStore& store, std::chrono::steady_clock::time_point arrived) {
    try {
        update_sources_or_refuse(
            store,
            [](std::vector<NetSource>& sources) {
                sources.push_back({"extra", "http://cam/"});
                return true;
            },
            arrived);
    } catch (const Fault& fault) {
        return fault;
    }
    return Fault{FaultKind::failed, "(accepted)"};
}

TEST(RegisteredSources, AChangeWaitsForTheLockOnlyUntilItsRequestsDeadline) {
    using namespace std::chrono_literals;
    TempFolder temp;
    SourcesStore store;
    store.file = temp.path / "sources.json";
    store.lock_wait = 400ms;
    save_sources(store.file, sample);
    {
        // Another app holds the lock and does not let go.
        FileLock held(temp.path / "sources.json.lock", std::chrono::steady_clock::now() + 1s);
        // The deadline counts from the request's arrival, not from when its
        // turn came.
        auto started = std::chrono::steady_clock::now();
        Fault late = change_refused(store, started - 300ms);
        auto took = std::chrono::steady_clock::now() - started;
        EXPECT_EQ(late.kind, FaultKind::busy) << late.message;
        EXPECT_EQ(late.message.rfind("another program is changing the sources (cannot lock ", 0), 0u) << late.message;
        EXPECT_GE(took, 50ms);
        EXPECT_LT(took, 300ms);
        EXPECT_EQ(change_refused(store, started - 1s).kind, FaultKind::busy) << "past its deadline: one try";
    }
    EXPECT_EQ(change_refused(store, std::chrono::steady_clock::now()).message, "(accepted)");
    EXPECT_EQ(load_sources(store.file).size(), sample.size() + 1);
}

#ifndef _WIN32
TEST(RegisteredSources, RunningOutOfDescriptorsIsSaidSoAndBlamesNoFile) {
    if (sanitizer_needs_descriptors) GTEST_SKIP() << "the sanitizer's own checks need a descriptor";
    TempFolder temp;
    SourcesStore store;
    store.file = temp.path / "sources.json";
    save_sources(store.file, sample);
    Fault read{FaultKind::failed, "(read)"}, changed;
    {
        NoDescriptorsLeft none;
        try {
            load_sources_or_refuse(store);
        } catch (const Fault& fault) {
            read = fault;
        }
        changed = change_refused(store, std::chrono::steady_clock::now());
    }
    for (const Fault& fault : {read, changed}) {
        EXPECT_EQ(fault.kind, FaultKind::exhausted) << fault.message;
        EXPECT_NE(fault.message.find("Too many open files"), std::string::npos) << fault.message;
        EXPECT_EQ(fault.message.find("fix or remove"), std::string::npos) << "a healthy file is not to be removed";
    }
    expect_same(load_sources(store.file), sample);
}
#endif

TEST(SourcesStore, NamesThatCannotTravelInAQueryAreRefused) {
    for (const char* good : {"phone", "my phone", "cam-1_b.c", "t\xc3\xa9l\xc3\xa9phone", "a:b", "x"}) {
        EXPECT_FALSE(source_name_problem(good)) << good;
    }
    for (std::string bad : {std::string(""), std::string(" phone"), std::string("phone "), std::string("a&b"),
                            std::string("a#b"), std::string("a%20b"), std::string("a+b"), std::string("a?b"),
                            std::string("a=b"), std::string("a\tb"), std::string("a\nb"), std::string(65, 'x')}) {
        auto problem = source_name_problem(bad);
        ASSERT_TRUE(problem) << bad;
        EXPECT_FALSE(problem->empty());
    }
    EXPECT_FALSE(source_name_problem(std::string(64, 'x')));
}

TEST(SourcesStore, UrlsMustBePlainHttp) {
    EXPECT_FALSE(source_url_problem("http://192.168.1.50:8080/shot.jpg"));
    EXPECT_TRUE(source_url_problem("https://cam/shot.jpg"));
    EXPECT_TRUE(source_url_problem("not a url"));
    EXPECT_TRUE(source_url_problem("http://cam/" + std::string(2048, 'a')));
}
}  // namespace
