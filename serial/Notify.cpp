#include "serial/Notify.h"

#include <cstdio>

namespace vyx {

void StderrMessageBox::Show(const std::string& text, std::function<void()> onDismissed) {
    const std::string line = text + "\n";
    std::fputs(line.c_str(), stderr);
    if (onDismissed) {
        onDismissed();
    }
}

}  // namespace vyx
