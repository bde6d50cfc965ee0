#include "tests/support/TestEnvironment.h"

#include <stdlib.h>

#include <system_error>

namespace vyx::test {

void SetVariable(const char* name, const char* value) {
    if (value == nullptr) {
        ::unsetenv(name);
    } else {
        ::setenv(name, value, 1);
    }
}

std::filesystem::path MakeTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vyx-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        return {};
    }
    return pattern;
}

bool MapComPort(const std::filesystem::path& folder, const std::string& com,
                const std::string& target) {
    std::error_code ec;
    std::filesystem::create_symlink(target, folder / com, ec);
    if (ec) {
        return false;
    }
    SetVariable("VYX_PORTS_DIR", folder.c_str());
    return true;
}

void UnmapComPorts() {
    SetVariable("VYX_PORTS_DIR", nullptr);
}

}  // namespace vyx::test
