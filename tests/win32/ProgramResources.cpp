#include "tests/win32/ProgramResources.h"

#include "resources/ControlIds.h"
#include "resources/StringTable.h"

namespace vyx::test {

int IconResourceId() {
    return resources::IDR_MAINFRAME;
}

int AboutStringId() {
    return resources::IDS_ABOUTBOX;
}

std::string AboutStringText() {
    return std::string(resources::LoadString(resources::IDS_ABOUTBOX));
}

}  // namespace vyx::test
