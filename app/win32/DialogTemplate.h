#pragma once

#include <cstdint>
#include <vector>

#include "resources/Templates.h"

// The in-memory dialog template (DLGTEMPLATEEX) that the Windows dialog manager builds a
// window from, made from the program's own template tables. Kept free of <windows.h>
// so that the window code can use it beside the dialog's headers.
namespace vyx::app::win32 {

// The bytes of a DLGTEMPLATEEX for `dialog`: the dialog's styles, title, font (face and
// point size of the table), then one DLGITEMTEMPLATEEX per control in template order,
// each DWORD-aligned, with its id, predefined class, styles, text and position in dialog
// units. An Icon control names icon resource `iconId` of the running module. The
// entries of the combo boxes are not part of a template: the window adds them.
std::vector<std::uint8_t> BuildDialogTemplate(const resources::DialogTemplate& dialog, int iconId);

}  // namespace vyx::app::win32
