// The JSON bodies of vistrel-app's POST endpoints, read as the endpoints
// read them: adding a source ("name", "url") and setting a control ("name",
// "value", "device").
//
// Input: the request body.
//
// A body is either refused with 400 and a message that makes a valid reply,
// or read into members of the right kinds; a source that passes the checks
// has a name that cannot break a query, a URL that the fetch can use, and
// survives the sources file unchanged.
#include <cstdint>
#include <cstring>
#include <string>

#include "check.h"
#include "endpoints/json_body.h"
#include "fault.h"
#include "refusal_reply.h"
#include "sources/http_url.h"
#include "sources/self_address.h"
#include "sources/sources_store.h"

namespace {
void check_refusal(const Fault& fault) {
    FUZZ_CHECK(fault.kind == FaultKind::bad_argument, "a body was refused as something else than a bad argument");
    check_refusal_reply(fault);
}

void add_source(const nlohmann::json& body) {
    std::string name = required_string_member(body, "name");
    std::string url = required_string_member(body, "url");
    if (auto problem = source_name_problem(name)) throw Fault{FaultKind::bad_argument, *problem};
    if (auto problem = source_url_problem(url)) throw Fault{FaultKind::bad_argument, *problem};

    FUZZ_CHECK(!name.empty() && name.size() <= max_source_name_bytes, "a name of the wrong length passed");
    FUZZ_CHECK(name.front() != ' ' && name.back() != ' ', "a name with a space at an end passed");
    for (char c : name) {
        auto u = static_cast<unsigned char>(c);
        FUZZ_CHECK(u >= 0x20 && u != 0x7f && !std::strchr("&#%+?=", c), "a name that breaks a query passed");
    }
    FUZZ_CHECK(url.size() <= max_source_url_bytes, "a URL of the wrong length passed");
    std::optional<HttpUrl> parsed = parse_http_url(url);
    FUZZ_CHECK(parsed.has_value(), "a URL passed that the fetch cannot read");
    (void)url_points_at_app(*parsed, 7777);

    std::vector<NetSource> sources = {{name, url}};
    std::vector<NetSource> again = sources_from_text(sources_to_text(sources));
    FUZZ_CHECK(again.size() == 1 && again[0].name == name && again[0].url == url,
               "the source changed on its way through the sources file");
}

void set_control(const nlohmann::json& body) {
    std::string name = required_string_member(body, "name");
    std::int64_t value = required_integer_member(body, "value");
    std::optional<std::string> device = optional_string_member(body, "device");
    FUZZ_CHECK(body.at("name").is_string(), "a name was read from another kind");
    FUZZ_CHECK(body.at("value").is_number_integer() && body.at("value") == value, "the value was read wrongly");
    if (device) FUZZ_CHECK(body.at("device") == *device, "the device was read wrongly");
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    nlohmann::json body;
    try {
        body = parse_json_object(text);
    } catch (const Fault& refusal) {
        check_refusal(refusal);
        return 0;
    }
    FUZZ_CHECK(body.is_object(), "a body that is not an object was taken");
    for (auto step : {add_source, set_control}) {
        try {
            step(body);
        } catch (const Fault& refusal) {
            check_refusal(refusal);
        }
    }
    return 0;
}
