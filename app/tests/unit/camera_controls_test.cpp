#include "cameras/camera_controls.h"

#include "fault.h"

#include <gtest/gtest.h>

namespace {
Fault refusal_of(std::vector<CameraControl>& controls, const char* name, std::int64_t value) {
    try {
        set_control(controls, name, value);
    } catch (const Fault& r) {
        return r;
    }
    ADD_FAILURE() << name << "=" << value << " was accepted";
    return {};
}

TEST(CameraControls, SetWithinRangeReturnsThePreviousValue) {
    auto controls = simulated_camera_controls();
    EXPECT_EQ(set_control(controls, "focus", 60), 128);
    EXPECT_EQ(set_control(controls, "focus", 0), 60);
    EXPECT_EQ(set_control(controls, "zoom", 400), 100);
    EXPECT_EQ(set_control(controls, "brightness", -100), 0);
    EXPECT_EQ(control_value(controls, "focus"), 0);
}

TEST(CameraControls, RefusesUnknownNamesAndValuesOutOfRange) {
    struct Case {
        const char* name;
        std::int64_t value;
        const char* message;
    };
    const Case cases[] = {
        {"focus", 256, "focus must be between 0 and 255 (got 256)"},
        {"focus", -1, "focus must be between 0 and 255 (got -1)"},
        {"zoom", 99, "zoom must be between 100 and 400 (got 99)"},
        {"exposure", 0, "exposure must be between 1 and 100 (got 0)"},
        {"brightness", 9223372036854775807, "brightness must be between -100 and 100 (got 9223372036854775807)"},
        {"iris", 1, "unknown control \"iris\"; the controls are focus, zoom, exposure, brightness"},
        {"Focus", 1, "unknown control \"Focus\"; the controls are focus, zoom, exposure, brightness"},
    };
    for (const auto& c : cases) {
        auto controls = simulated_camera_controls();
        Fault r = refusal_of(controls, c.name, c.value);
        EXPECT_EQ(r.kind, FaultKind::bad_argument);
        EXPECT_EQ(r.message, c.message);
        EXPECT_EQ(controls[0].value, 128) << "a refused value must change nothing";
    }
}
}  // namespace
