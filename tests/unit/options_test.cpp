#include <gtest/gtest.h>

#include "cli/options.h"

namespace {
std::vector<std::string> with_program(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "vistrel");
    return arguments;
}
}  // namespace

TEST(Positionals, SkipEveryArgumentThatBeginsWithTwoHyphens) {
    struct Case {
        std::vector<std::string> arguments;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {{}, {}},
        {{"--help"}, {}},
        {{"--", "-", "-h", ""}, {"-", "-h", ""}},
        {{"--port", "8000", "status"}, {"8000", "status"}},
        {{"--port=8000", "status"}, {"status"}},
        {{"set", "--device", "0", "focus", "60"}, {"set", "0", "focus", "60"}},
        {{"set", "focus", "--5"}, {"set", "focus"}},
    };
    for (const Case& c : cases) {
        set_arguments(with_program(c.arguments));
        EXPECT_EQ(positionals(), c.expected);
    }
    set_arguments(with_program({"snap"}));
    EXPECT_EQ(positional(0), "snap");
    EXPECT_EQ(positional(1), "");
}

TEST(OptionValue, JoinedFormWinsThenFirstSeparateOccurrence) {
    struct Case {
        std::vector<std::string> arguments;
        std::string name;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {{"snap", "--out=a.jpg"}, "out", "a.jpg"},
        {{"snap", "--out", "a.jpg"}, "out", "a.jpg"},
        {{"snap", "--out="}, "out", ""},
        {{"--device=2", "--device", "5"}, "device", "2"},
        {{"--device", "5", "--device=2"}, "device", "2"},
        {{"--device", "5", "--device", "7"}, "device", "5"},
        {{"--device", "--json", "--device", "7"}, "device", std::nullopt},
        {{"--out", "-"}, "out", "-"},
        {{"--secs", "-3"}, "secs", "-3"},
        {{"--out", ""}, "out", ""},
        {{"--out", "--"}, "out", std::nullopt},
        {{"snap", "--out"}, "out", std::nullopt},
        {{"snap"}, "out", std::nullopt},
        {{"--Device", "1"}, "device", std::nullopt},
        {{"--outfile=x"}, "out", std::nullopt},
    };
    for (const Case& c : cases) {
        set_arguments(with_program(c.arguments));
        EXPECT_EQ(option_value(c.name), c.expected) << testing::PrintToString(c.arguments);
    }
}

TEST(OptionValue, ScansTheProgramNameToo) {
    set_arguments({"--device=0", "snap"});
    EXPECT_EQ(option_value("device"), "0");
}

TEST(HasFlag, OnlyTheExactArgument) {
    set_arguments(with_program({"--device", "--json", "status"}));
    EXPECT_TRUE(has_flag("json"));
    EXPECT_EQ(option_value("device"), std::nullopt);
    for (const char* other : {"--json=1", "--JSON", "-json", "json"}) {
        set_arguments(with_program({"status", other}));
        EXPECT_FALSE(has_flag("json")) << other;
    }
}

TEST(Fragments, SizeAndDeviceAsTyped) {
    struct Case {
        std::vector<std::string> arguments;
        std::string size, device;
    };
    const Case cases[] = {
        {{"snap"}, "", ""},
        {{"--size", "1280x720"}, "&width=1280&height=720", ""},
        {{"--size=1280X720"}, "&width=1280&height=720", ""},
        {{"--size", "x"}, "&width=&height=", ""},
        {{"--size", "640x480x2"}, "&width=640&height=480x2", ""},
        {{"--size", "--json"}, "", ""},
        {{"--device", "net:my phone"}, "", "&device=net:my phone"},
        {{"--device="}, "", "&device="},
    };
    for (const Case& c : cases) {
        set_arguments(with_program(c.arguments));
        EXPECT_EQ(size_query(), c.size);
        EXPECT_EQ(device_query(), c.device);
    }
}
