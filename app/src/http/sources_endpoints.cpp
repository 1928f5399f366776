#include "http/endpoints.h"
#include "http/json_body.h"
#include "http/replies.h"
#include "refusal.h"
#include "sources/http_url.h"
#include "sources/registered_sources.h"

#include <algorithm>
#include <cctype>

namespace {
// A source on the app's own address would fetch from itself, and a frame of
// "net:x" whose URL asks the app for "net:x" would never end.
bool points_at_app(const std::string& url, int port) {
    auto parsed = parse_http_url(url);
    if (!parsed || parsed->port != port) return false;
    std::string host = parsed->host;
    for (auto& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return host == "127.0.0.1" || host == "localhost" || host == "0.0.0.0" || host == "::1" ||
           host.rfind("127.", 0) == 0;
}

nlohmann::json source_list(const std::vector<NetSource>& sources) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& source : sources) list.push_back({{"name", source.name}, {"url", source.url}});
    return list;
}
}  // namespace

void add_sources_endpoints(httplib::Server& server, AppState& state) {
    server.Get("/api/sources", guarded([&state](const httplib::Request&, httplib::Response& res) {
                   std::lock_guard lock(state.sources.mutex);
                   reply_json(res, {{"sources", source_list(load_sources_or_refuse(state.sources))}});
               }));

    server.Post("/api/sources", guarded([&state](const httplib::Request& req, httplib::Response& res) {
                    nlohmann::json body = parse_json_object(req.body);
                    std::string name = required_string_member(body, "name");
                    std::string url = required_string_member(body, "url");
                    if (auto problem = source_name_problem(name)) throw Refusal{400, *problem};
                    if (auto problem = source_url_problem(url)) throw Refusal{400, *problem};
                    if (points_at_app(url, state.port)) {
                        throw Refusal{400, "that URL is vistrel-app itself; a source must be another camera"};
                    }

                    std::lock_guard lock(state.sources.mutex);
                    std::vector<NetSource> sources = load_sources_or_refuse(state.sources);
                    auto existing = std::find_if(sources.begin(), sources.end(),
                                                 [&](const NetSource& s) { return s.name == name; });
                    nlohmann::json reply = {{"added", name}, {"url", url}};
                    // Adding a name again points it at the new URL.
                    if (existing != sources.end()) {
                        reply["replaced"] = existing->url;
                        existing->url = url;
                    } else {
                        if (sources.size() >= max_sources) {
                            throw Refusal{400, "at most " + std::to_string(max_sources) +
                                                   " sources can be registered; forget one first"};
                        }
                        sources.push_back({name, url});
                    }
                    save_sources_or_refuse(state.sources, sources);
                    reply_json(res, reply);
                }));

    server.Post("/api/sources/remove", guarded([&state](const httplib::Request& req, httplib::Response& res) {
                    std::string name = required_string_member(parse_json_object(req.body), "name");
                    std::lock_guard lock(state.sources.mutex);
                    std::vector<NetSource> sources = load_sources_or_refuse(state.sources);
                    auto existing = std::find_if(sources.begin(), sources.end(),
                                                 [&](const NetSource& s) { return s.name == name; });
                    if (existing == sources.end()) throw Refusal{404, "no source named \"" + name + "\" is registered"};
                    sources.erase(existing);
                    save_sources_or_refuse(state.sources, sources);
                    reply_json(res, {{"removed", name}});
                }));
}
