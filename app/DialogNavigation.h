#pragma once

#include "app/DialogWindow.h"
#include "resources/Templates.h"

namespace vyx::app {

// The dialog manager's keyboard focus over a dialog template, free of any toolkit: which
// control takes the focus at start, where it goes when the focused control is disabled,
// and where Tab and Shift+Tab lead. A window asks these and applies the answer; the
// enable states come from the window itself.
//
// Push buttons, combo boxes and edit boxes can hold the focus; group boxes, labels and
// icons cannot. Only controls with a tab stop are reached by Tab.

// Stands for the dialog itself holding the focus, with no control focused.
constexpr int kFocusDialog = 0;

// Whether a control of this kind can hold the keyboard focus at all.
bool CanTakeFocus(const resources::ControlTemplate& control);

// The control that gets the focus when the dialog's initialisation asks for the default:
// the first enabled control in template order that can take it; kFocusDialog when none.
int InitialFocus(const resources::DialogTemplate& dialog, const DialogWindow& window);

// The enabled tab-stop control after `fromId` in template order (before it when
// `backward`), wrapping around; `fromId` itself when it is the only one. From
// kFocusDialog, or from an id the template does not have, the search starts at the first
// (last) control. When no enabled tab stop is left the focus stays: returns `fromId`.
int TabTarget(const resources::DialogTemplate& dialog, const DialogWindow& window, int fromId,
              bool backward);

// Where the focus goes when the focused control `disabledId` has just been disabled: on
// to the next enabled tab-stop control in template order, or, with none left, to the
// dialog itself (kFocusDialog), so that Escape and Enter keep reaching the dialog.
int FocusAfterDisabling(const resources::DialogTemplate& dialog, const DialogWindow& window,
                        int disabledId);

}  // namespace vyx::app
