#include "serial/ComName.h"

namespace vyx {

int ComNumber(const std::string& name) {
    if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "COM") != 0) {
        return 0;
    }
    if (name[3] == '0') {
        return 0;  // "COM04" is not a name the dialog builds
    }
    int n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        const char c = name[i];
        if (c < '0' || c > '9') {
            return 0;
        }
        n = n * 10 + (c - '0');
    }
    return n >= 1 && n <= 255 ? n : 0;
}

}  // namespace vyx
