#include "client/save.h"

#include <cstring>
#include <memory>
#include <vector>

#include "platform/system.h"

namespace {
// Keeps the body as a list of blocks, so that a body of any size grows
// without ever being copied: a large recording is held once, not twice.
struct BlockSink final : BodySink {
    struct Block {
        std::unique_ptr<char[]> data;
        std::size_t size = 0;
        std::size_t capacity = 0;
    };
    std::vector<Block> blocks;
    std::size_t next_capacity = 64 * 1024;

    void take(std::string_view bytes) override {
        while (!bytes.empty()) {
            if (blocks.empty() || blocks.back().size == blocks.back().capacity) {
                Block block;
                block.capacity = next_capacity;
                block.data.reset(new char[block.capacity]);
                blocks.push_back(std::move(block));
                next_capacity = std::min<std::size_t>(next_capacity * 2, 8 * 1024 * 1024);
            }
            Block& block = blocks.back();
            std::size_t copy = std::min(bytes.size(), block.capacity - block.size);
            std::memcpy(block.data.get() + block.size, bytes.data(), copy);
            block.size += copy;
            bytes.remove_prefix(copy);
        }
    }

    std::vector<std::string_view> pieces() const {
        std::vector<std::string_view> list;
        for (const Block& block : blocks) list.emplace_back(block.data.get(), block.size);
        return list;
    }
};
}  // namespace

JsonValue saved_json(const SavedFile& saved) {
    JsonValue object = JsonValue::object();
    object["bytes"] = saved.bytes;
    object["path"] = saved.path;
    return object;
}

Failure write_failure(std::string_view path, const IoError& error) {
    return Failure{"cannot write " + std::string(path) + ": " + error.text};
}

Result<SavedFile> save_reply(const AppLink& app, const ApiRequest& request, const std::string& path) {
    Result<ApiReply> started = api_start(app, request);
    if (!started) return started.error();
    ApiReply& reply = started.value();
    if (is_refusal(reply.incoming.status)) {
        StringSink body;
        if (Result<std::uint64_t> read = api_read_body(reply, body); !read) return read.error();
        return refusal_failure(body.bytes, request.refusal_fallback);
    }
    BlockSink body;
    Result<std::uint64_t> read = api_read_body(reply, body);
    if (!read) return read.error();
    if (auto error = write_file(path, body.pieces())) return write_failure(path, *error);
    return SavedFile{path, read.value()};
}
