#include "client/save.h"

namespace {
// Writes the body into the output as it arrives. After the first failure it
// keeps the reason and drops the rest, so that the reply is still read to
// its end.
struct OutputSink final : BodySink {
    OpenOutput* output = nullptr;
    std::optional<IoError> error;

    void take(std::string_view bytes) override {
        if (error || bytes.empty()) return;
        error = write_output_file(*output, bytes);
    }
};

std::optional<IoError> open_into(OutputFile& file) {
    OpenOutputResult opened = open_output_file(file.path);
    if (opened.error) return opened.error;
    file.open = std::move(opened.output);
    return std::nullopt;
}
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

Result<OutputFile> open_output(const std::string& path) {
    OutputFile file(path);
    if (auto error = open_into(file)) return write_failure(path, *error);
    return file;
}

Result<SavedFile> save_reply(const AppLink& app, const ApiRequest& request, OutputFile given) {
    // A local, not the parameter: a parameter may outlive the call until the
    // caller's statement ends, and a caller that ends the process on the
    // failure would leave the temporary file behind.
    OutputFile output = std::move(given);
    Result<ApiReply> started = api_start(app, request);
    if (!started) return started.error();
    ApiReply& reply = started.value();
    if (is_refusal(reply.incoming.status)) {
        StringSink body;
        if (Result<std::uint64_t> read = api_read_body(reply, body); !read) return read.error();
        return refusal_failure(body.bytes, request.refusal_fallback);
    }
    OutputSink sink;
    if (!output.open) sink.error = open_into(output);
    if (!sink.error) {
        sink.output = &*output.open;
        sink.error = start_output_file(*output.open);
    }
    Result<std::uint64_t> read = api_read_body(reply, sink);
    if (!read) return read.error();
    if (sink.error) return write_failure(output.path, *sink.error);
    if (auto error = finish_output_file(*output.open)) return write_failure(output.path, *error);
    output.open.reset();
    return SavedFile{output.path, read.value()};
}
