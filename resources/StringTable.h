#pragma once

#include <string_view>

#include "resources/ControlIds.h"
#include "resources/Version.h"

// The string table. '&' marks the access key, as in menu texts of every toolkit we use.
namespace vyx::resources {

// String 101: the About item of the window menu (and of the About context menu).
constexpr std::string_view kAboutItemText = VYX_ABOUT_ITEM_TEXT;

// The text of string `id`; empty for an id the table does not hold.
constexpr std::string_view LoadString(int id) {
    return id == IDS_ABOUTBOX ? kAboutItemText : std::string_view{};
}

}  // namespace vyx::resources
