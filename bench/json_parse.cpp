// How long the client's reading of a JSON reply (body_json: one text,
// nesting and numbers checked) takes beside a plain parse of the same text by
// the JSON library, in process, so that the checks' own cost shows.
//
//   json_parse FILE [RUNS]     (default: 5 runs of each, interleaved)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "client/json.h"

namespace {
using Clock = std::chrono::steady_clock;

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: json_parse FILE [RUNS]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::string text(std::istreambuf_iterator<char>(in), {});
    int runs = argc > 2 ? std::stoi(argv[2]) : 5;
    std::vector<double> checked, plain;
    std::size_t sizes[2] = {};
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        JsonValue read = body_json(text);
        checked.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        sizes[0] = read.size();
        start = Clock::now();
        JsonValue parsed = JsonValue::parse(text);
        plain.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        sizes[1] = parsed.size();
    }
    if (sizes[0] != sizes[1]) {
        std::fprintf(stderr, "the two parses disagree\n");
        return 1;
    }
    double a = median(checked), b = median(plain);
    std::printf("%zu bytes: body_json %.1f ms, plain parse %.1f ms, ratio %.2f\n", text.size(), a, b, a / b);
    return 0;
}
