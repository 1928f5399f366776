// Saving: the body streams into a hidden file beside the output, which takes
// the output's place only once the whole reply has come. Whatever fails, the
// old file stays byte for byte and nothing is left beside it.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "e2e_case.h"

namespace {
namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;
using Ending = ScriptedReply::Ending;

const std::string base = "http://127.0.0.1:{port}/api";
const std::string old_photo = "the old photo, which must survive";
const std::string body(64 * 1024, 'j');

ScriptedReply raw(std::string bytes, Ending ending = Ending::close) {
    return ScriptedReply{std::move(bytes), ending};
}

RunOptions options_for(const FakeApp& app, const ScratchFolder& folder) {
    return RunOptions{folder.path, {{"VISTREL_PORT", std::to_string(app.port())}}};
}

// True once some file in `folder` holds `size` bytes.
bool some_file_has(const fs::path& folder, std::uintmax_t size) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (entry.is_regular_file(error) && entry.file_size(error) == size) return true;
    }
    return false;
}
}  // namespace

TEST(SafeSave, AFailedSaveLeavesTheOldFileAndNothingBeside) {
    struct Case {
        std::string name;
        std::vector<std::string> arguments;
        ScriptedReply reply;
        std::string err;
        bool err_is_prefix = false;
        std::optional<std::uint64_t> file_size_limit{};
    };
    const std::string cut_head = "HTTP/1.1 200 OK\r\nContent-Length: 65536\r\n\r\n";
    const Case cases[] = {
        {"a reply cut short", {"snap", "--out", "photo.jpg"}, raw(cut_head + body.substr(0, 1000)),
         unreachable(base, "transfer closed with 64536 bytes remaining")},
        {"a reset mid-body", {"snap", "--out", "photo.jpg"}, raw("HTTP/1.1 200 OK\r\n\r\n" + body, Ending::reset),
         "error: cannot reach Vistrel at " + base + " (", true},
        {"a refusal", {"screenshot", "--out", "photo.jpg"}, json_reply(R"({"error":"no display"})", 503),
         "error: no display\n"},
        {"a refusal cut short", {"snap", "--out", "photo.jpg"},
         raw("HTTP/1.1 503 X\r\nContent-Length: 40\r\n\r\n{\"error\":"),
         unreachable(base, "transfer closed with 31 bytes remaining")},
        {"a recording cut short", {"record", "--out", "photo.jpg"}, raw(cut_head + body.substr(0, 7)),
         unreachable(base, "transfer closed with 65529 bytes remaining")},
        {"a full disk", {"snap", "--out", "photo.jpg"}, http_reply(200, body),
         "error: cannot write photo.jpg: {too_large}\n", false, 16384},
        {"a full disk, then a reply cut short", {"snap", "--out", "photo.jpg"}, raw(cut_head + body.substr(0, 32768)),
         unreachable(base, "transfer closed with 32768 bytes remaining"), false, 16384},
        {"a recording on a full disk", {"record", "--out", "photo.jpg"}, http_reply(200, body),
         "error: cannot write photo.jpg: {too_large}\n", false, 16384},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A file size limit is a POSIX resource limit; under wine it ends the
        // whole wine process with SIGXFSZ before the program sees an error.
        if (c.file_size_limit && testing_windows_build()) continue;
        FakeApp app({c.reply});
        ScratchFolder folder;
        write_bytes(folder.path / "photo.jpg", old_photo);
        RunOptions options = options_for(app, folder);
        options.file_size_limit = c.file_size_limit;
        RunResult result = run_vistrel(c.arguments, options);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        std::string err = expand(c.err, app.port());
        if (c.err_is_prefix) {
            EXPECT_EQ(result.err.substr(0, err.size()), err) << result.err;
        } else {
            EXPECT_EQ(result.err, err);
        }
        EXPECT_EQ(files_in(folder.path), (Files{{"photo.jpg", old_photo}}));
    }
}

TEST(SafeSave, ASignalMidBodyLeavesTheOldFileAndNothingBeside) {
    std::vector<int> signals = {SIGTERM, SIGINT};
    // wine turns SIGINT into nothing for a program without a console.
    if (testing_windows_build()) signals = {SIGTERM};
    for (int signal_number : signals) {
        SCOPED_TRACE(signal_number);
        const std::string part(5000, 'p');
        FakeApp app({raw("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + part, Ending::hold)});
        ScratchFolder folder;
        write_bytes(folder.path / "photo.jpg", old_photo);
        RunOptions options = options_for(app, folder);
        options.signal = signal_number;
        options.signal_when = [&] { return some_file_has(folder.path, part.size()); };
        RunResult result = run_vistrel({"snap", "--out", "photo.jpg"}, options);
        if (!testing_windows_build()) {
            EXPECT_EQ(result.status, 128 + signal_number);
        }
        EXPECT_NE(result.status, 0);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(files_in(folder.path), (Files{{"photo.jpg", old_photo}}));
    }
}

TEST(SafeSave, AReadOnlyOutputIsRefusedAsBefore) {
    if (testing_windows_build() && geteuid() == 0) {
        GTEST_SKIP() << "wine run by root writes read-only files, and cannot run as another user with root's prefix";
    }
    // As root no file is read-only, so the run drops to the user nobody, for
    // whom the folder is open: only the file's own mode refuses the write.
    auto read_only_folder = [](ScratchFolder& folder) {
        write_bytes(folder.path / "ro.jpg", old_photo);
        fs::permissions(folder.path / "ro.jpg", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        fs::permissions(folder.path, fs::perms::all);
    };
    {
        FakeApp app({http_reply(200, "new")});
        ScratchFolder folder;
        read_only_folder(folder);
        RunOptions options = options_for(app, folder);
        options.as_nobody = !testing_windows_build();
        RunResult result = run_vistrel({"snap", "--out", "ro.jpg"}, options);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, expand("error: cannot write ro.jpg: {access_denied}\n", app.port()));
        EXPECT_EQ(app.requests().size(), 1u);
        EXPECT_EQ(files_in(folder.path), (Files{{"ro.jpg", old_photo}}));
    }
    {
        FakeApp app({http_reply(200, "new")});
        ScratchFolder folder;
        read_only_folder(folder);
        RunOptions options = options_for(app, folder);
        options.as_nobody = !testing_windows_build();
        RunResult result = run_vistrel({"record", "--out", "ro.jpg"}, options);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, expand("error: cannot write ro.jpg: {access_denied}\n", app.port()));
        EXPECT_TRUE(app.requests().empty()) << "the app recorded for an output that cannot be written";
        EXPECT_EQ(files_in(folder.path), (Files{{"ro.jpg", old_photo}}));
    }
}

TEST(SafeSave, RecordChecksItsOutputBeforeTheAppRecords) {
    check_case({.name = "a missing folder",
                .arguments = {"record", "--secs", "120", "--out", "missing/x.webm"},
                .replies = {http_reply(200, body)},
                .err = "error: cannot write missing/x.webm: {no_such_path}\n",
                .status = 1});
    check_case({.name = "a folder in the way",
                .arguments = {"record", "--out", "."},
                .replies = {http_reply(200, body)},
                .err = "error: cannot write .: {is_directory}\n",
                .status = 1});
    check_case({.name = "--secs is still examined first",
                .arguments = {"record", "--secs", "x", "--out", "missing/x.webm"},
                .err = "error: --secs wants a whole number of seconds\n",
                .status = 1});
    // A refusal leaves no file where there was none.
    check_case({.name = "a refusal",
                .arguments = {"record"},
                .replies = {json_reply(R"({"error":"busy"})", 409)},
                .requests = {post_request("/api/screen/record", R"({"format":null,"secs":null})")},
                .err = "error: busy\n",
                .status = 1});
}

TEST(SafeSave, SnapStillAsksFirstAndReadsTheWholeReplyBeforeBlamingTheOutput) {
    const std::string frame = get_request("/api/frame.jpg?_=");
    check_case({.name = "a missing folder and a reply cut short",
                .arguments = {"snap", "--out", "missing/a.jpg"},
                .replies = {raw("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc")},
                .requests = {frame},
                .err = unreachable(base, "transfer closed with 7 bytes remaining"),
                .status = 1});
    check_case({.name = "a missing folder and a whole reply",
                .arguments = {"screenshot", "--out", "missing/a.jpg"},
                .replies = {http_reply(200, body)},
                .requests = {get_request("/api/frame.jpg?device=screen")},
                .err = "error: cannot write missing/a.jpg: {no_such_path}\n",
                .status = 1});
    check_case({.name = "a missing folder and a refusal",
                .arguments = {"snap", "--out", "missing/a.jpg"},
                .replies = {json_reply(R"({"error":"camera busy"})", 503)},
                .requests = {frame},
                .err = "error: camera busy\n",
                .status = 1});
}

TEST(SafeSave, TheNewFileTakesTheOldOnesPermissions) {
    if (testing_windows_build()) GTEST_SKIP() << "Windows files carry no POSIX permission bits";
    FakeApp app({http_reply(200, "new"), http_reply(200, "fresh")});
    ScratchFolder folder;
    write_bytes(folder.path / "photo.jpg", old_photo);
    fs::permissions(folder.path / "photo.jpg", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    RunResult replaced = run_vistrel({"snap", "--out", "photo.jpg"}, options_for(app, folder));
    EXPECT_EQ(replaced.out, "photo.jpg  3 bytes\n");
    EXPECT_EQ(fs::status(folder.path / "photo.jpg").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    mode_t mask = umask(0);
    umask(mask);
    RunResult created = run_vistrel({"snap", "--out", "new.jpg"}, options_for(app, folder));
    EXPECT_EQ(created.out, "new.jpg  5 bytes\n");
    EXPECT_EQ(static_cast<mode_t>(fs::status(folder.path / "new.jpg").permissions()), 0666 & ~mask);
    EXPECT_EQ(files_in(folder.path), (Files{{"photo.jpg", "new"}, {"new.jpg", "fresh"}}));
}

TEST(SafeSave, ALinkedFileIsReplacedWhereTheLinkLeads) {
    if (testing_windows_build()) GTEST_SKIP() << "under wine a POSIX link is a plain file to the program";
    FakeApp app({http_reply(200, "new")});
    ScratchFolder folder;
    fs::create_directory(folder.path / "sub");
    write_bytes(folder.path / "sub" / "real.jpg", old_photo);
    fs::create_symlink("sub/real.jpg", folder.path / "link.jpg");
    RunResult result = run_vistrel({"snap", "--out", "link.jpg"}, options_for(app, folder));
    EXPECT_EQ(result.out, "link.jpg  3 bytes\n");
    EXPECT_TRUE(fs::is_symlink(folder.path / "link.jpg"));
    EXPECT_EQ(fs::read_symlink(folder.path / "link.jpg"), "sub/real.jpg");
    EXPECT_EQ(files_in(folder.path), (Files{{"sub/real.jpg", "new"}}));  // the link itself is no regular file
}

TEST(SafeSave, AFileWithASecondNameIsWrittenInPlaceSoBothNamesKeepIt) {
    FakeApp app({http_reply(200, "new")});
    ScratchFolder folder;
    write_bytes(folder.path / "first.jpg", old_photo);
    fs::create_hard_link(folder.path / "first.jpg", folder.path / "second.jpg");
    RunResult result = run_vistrel({"snap", "--out", "second.jpg"}, options_for(app, folder));
    EXPECT_EQ(result.out, "second.jpg  3 bytes\n");
    EXPECT_TRUE(fs::equivalent(folder.path / "first.jpg", folder.path / "second.jpg"));
    EXPECT_EQ(files_in(folder.path), (Files{{"first.jpg", "new"}, {"second.jpg", "new"}}));
}

TEST(SafeSave, StandardOutputAndAPipeTakeTheBytesAsTheyCome) {
    if (testing_windows_build()) GTEST_SKIP() << "/dev/stdout and FIFOs are POSIX paths that wine does not pass through";
    {
        FakeApp app({http_reply(200, body)});
        ScratchFolder folder;
        RunResult result = run_vistrel({"snap", "--out", "/dev/stdout"}, options_for(app, folder));
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, body + "/dev/stdout  65536 bytes\n");
        EXPECT_EQ(files_in(folder.path), Files{});
    }
    // The bytes reach the pipe's reader while the reply is still coming.
    const std::string part(5000, 'p');
    FakeApp app({raw("HTTP/1.1 200 OK\r\n\r\n" + part, Ending::hold), http_reply(200, body)});
    ScratchFolder folder;
    ASSERT_EQ(mkfifo((folder.path / "pipe").c_str(), 0600), 0);
    auto read_pipe = [&](std::string& into, std::atomic<std::size_t>& count) {
        int fd = open((folder.path / "pipe").c_str(), O_RDONLY);
        char buffer[4096];
        for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0; count += static_cast<std::size_t>(got)) {
            into.append(buffer, static_cast<std::size_t>(got));
        }
        close(fd);
    };
    std::string received;
    std::atomic<std::size_t> count{0};
    std::thread reader(read_pipe, std::ref(received), std::ref(count));
    RunOptions options = options_for(app, folder);
    options.signal = SIGTERM;
    options.signal_when = [&] { return count == part.size(); };
    RunResult streamed = run_vistrel({"snap", "--out", "pipe"}, options);
    reader.join();
    EXPECT_EQ(streamed.status, 128 + SIGTERM);
    EXPECT_EQ(received, part);

    received.clear();
    std::thread second(read_pipe, std::ref(received), std::ref(count));
    RunResult whole = run_vistrel({"snap", "--out", "pipe", "--json"}, options_for(app, folder));
    second.join();
    EXPECT_EQ(whole.out, "{\"bytes\":65536,\"path\":\"pipe\"}\n");
    EXPECT_EQ(received, body);
    EXPECT_EQ(files_in(folder.path), Files{});
}
