#include "endpoints/endpoints.h"
#include "endpoints/json_body.h"
#include "fault.h"
#include "sources/http_url.h"
#include "sources/registered_sources.h"
#include "sources/self_address.h"

#include <algorithm>

namespace {
nlohmann::json source_list(const std::vector<NetSource>& sources) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& source : sources) list.push_back({{"name", source.name}, {"url", source.url}});
    return list;
}
}  // namespace

nlohmann::json sources_reply(AppState& state) {
    return {{"sources", source_list(load_sources_or_refuse(state.sources))}};
}

nlohmann::json add_source_reply(AppState& state, const nlohmann::json& body,
                                std::chrono::steady_clock::time_point arrived) {
    std::string name = required_string_member(body, "name");
    std::string url = required_string_member(body, "url");
    if (auto problem = source_name_problem(name)) throw Fault{FaultKind::bad_argument, *problem};
    if (auto problem = source_url_problem(url)) throw Fault{FaultKind::bad_argument, *problem};
    if (url_points_at_app(*parse_http_url(url), state.port)) {
        throw Fault{FaultKind::bad_argument, "that URL is vistrel-app itself; a source must be another camera"};
    }
    nlohmann::json reply = {{"added", name}, {"url", url}};
    update_sources_or_refuse(
        state.sources,
        [&](std::vector<NetSource>& sources) {
            auto existing =
                std::find_if(sources.begin(), sources.end(), [&](const NetSource& s) { return s.name == name; });
            // Adding a name again points it at the new URL.
            if (existing != sources.end()) {
                reply["replaced"] = existing->url;
                existing->url = url;
            } else {
                if (sources.size() >= max_sources) {
                    throw Fault{FaultKind::bad_argument, "at most " + std::to_string(max_sources) +
                                                             " sources can be registered; forget one first"};
                }
                sources.push_back({name, url});
            }
            return true;
        },
        arrived);
    return reply;
}

nlohmann::json remove_source_reply(AppState& state, const nlohmann::json& body,
                                   std::chrono::steady_clock::time_point arrived) {
    std::string name = required_string_member(body, "name");
    update_sources_or_refuse(
        state.sources,
        [&](std::vector<NetSource>& sources) {
            auto existing =
                std::find_if(sources.begin(), sources.end(), [&](const NetSource& s) { return s.name == name; });
            if (existing == sources.end())
                throw Fault{FaultKind::not_found, "no source named \"" + name + "\" is registered"};
            sources.erase(existing);
            return true;
        },
        arrived);
    return {{"removed", name}};
}
