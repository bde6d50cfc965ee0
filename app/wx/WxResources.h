#pragma once

#include <wx/dialog.h>
#include <wx/iconbndl.h>

#include "resources/Templates.h"

namespace vyx::app {

// Gives `dialog` the template's title, style-dependent extras, font and client size,
// and creates its controls in template order (which is their tab and overlap order).
// Call between the dialog's Create and its first Show.
//
// Dialog units come from the dialog's font, so the font is set first: the system's
// face at the template's point size (the template's own face names fonts of another
// platform). A combo box keeps its natural height: the template's height includes
// the dropped list.
void BuildFromTemplate(wxDialog& dialog, const resources::DialogTemplate& dialogTemplate);

// The wx id a template id stands for: the template's OK (1) and Cancel (2) are wx's
// own; a control without id gets wxID_ANY.
int WxIdOf(int templateId);

// wx style bits for a dialog template's style.
long WxDialogStyle(const resources::DialogTemplate& dialogTemplate);

// The application icon, every size (decoded anew: wx objects must not outlive wx).
wxIconBundle ApplicationIcons();

}  // namespace vyx::app
