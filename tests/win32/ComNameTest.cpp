#include "serial/ComName.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace vyx {
namespace {

TEST(ComNameWin32Test, ResolvesToTheDeviceNamespace) {
    struct Case {
        const char* name;
        std::optional<std::string> device;
    };
    const Case cases[] = {
        {"COM1", "\\\\.\\COM1"},
        {"COM4", "\\\\.\\COM4"},
        // Two digits: only the device namespace opens these.
        {"COM10", "\\\\.\\COM10"},
        {"COM20", "\\\\.\\COM20"},
        {"COM255", "\\\\.\\COM255"},
        // A device path is taken as it is.
        {"\\\\.\\COM7", "\\\\.\\COM7"},
        {"\\\\?\\GLOBALROOT\\Device\\Serial0", "\\\\?\\GLOBALROOT\\Device\\Serial0"},
        {"//./COM7", "//./COM7"},
        // Not a name the dialog builds: no device.
        {"COM0", std::nullopt},
        {"COM04", std::nullopt},
        {"COM256", std::nullopt},
        {"com4", std::nullopt},
        {"COM", std::nullopt},
        {"COM4 ", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ResolvePortName(c.name), c.device) << '"' << c.name << '"';
    }
}

}  // namespace
}  // namespace vyx
