#pragma once
// The companion app over HTTP, reached as vistrel reaches it.
#include <memory>
#include <optional>
#include <string>

#include "mcp/app_api.h"

// `port_text` is the --port value when one was given; else VISTREL_PORT,
// else 7777, as for vistrel.
std::unique_ptr<AppApi> http_app(const std::optional<std::string>& port_text);
