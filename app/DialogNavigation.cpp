#include "app/DialogNavigation.h"

#include <cstddef>
#include <optional>

namespace vyx::app {
namespace {

namespace res = vyx::resources;

std::optional<std::size_t> IndexOf(const res::DialogTemplate& dialog, int id) {
    if (id == kFocusDialog || id < 0) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < dialog.controls.size(); ++i) {
        if (dialog.controls[i].id == id) {
            return i;
        }
    }
    return std::nullopt;
}

bool IsEnabledTabStop(const res::ControlTemplate& control, const DialogWindow& window) {
    return control.tabStop && CanTakeFocus(control) && window.IsWindowEnabled(control.id);
}

// The next enabled tab stop after `fromId` (before it when `backward`), the control at
// `fromId` itself considered last; kFocusDialog when there is none.
int NextTabStop(const res::DialogTemplate& dialog, const DialogWindow& window, int fromId,
                bool backward) {
    const std::size_t count = dialog.controls.size();
    if (count == 0) {
        return kFocusDialog;
    }
    // Without a starting control the search begins at one end: its first step from the
    // position just outside the list lands on the first (last) control.
    const std::optional<std::size_t> from = IndexOf(dialog, fromId);
    std::size_t at = from ? *from : (backward ? 0 : count - 1);
    for (std::size_t step = 0; step < count; ++step) {
        at = backward ? (at + count - 1) % count : (at + 1) % count;
        if (IsEnabledTabStop(dialog.controls[at], window)) {
            return dialog.controls[at].id;
        }
    }
    return kFocusDialog;
}

}  // namespace

bool CanTakeFocus(const res::ControlTemplate& control) {
    if (control.id < 0) {
        return false;  // nothing addresses it, nothing focuses it
    }
    switch (control.kind) {
        case res::ControlKind::PushButton:
        case res::ControlKind::DefPushButton:
        case res::ControlKind::ComboBox:
        case res::ControlKind::EditBox:
            return true;
        case res::ControlKind::GroupBox:
        case res::ControlKind::Label:
        case res::ControlKind::Icon:
            return false;
    }
    return false;
}

int InitialFocus(const res::DialogTemplate& dialog, const DialogWindow& window) {
    for (const res::ControlTemplate& control : dialog.controls) {
        if (CanTakeFocus(control) && window.IsWindowEnabled(control.id)) {
            return control.id;
        }
    }
    return kFocusDialog;
}

int TabTarget(const res::DialogTemplate& dialog, const DialogWindow& window, int fromId,
              bool backward) {
    const int next = NextTabStop(dialog, window, fromId, backward);
    return next == kFocusDialog ? fromId : next;
}

int FocusAfterDisabling(const res::DialogTemplate& dialog, const DialogWindow& window,
                        int disabledId) {
    // The disabled control is no candidate any more, so it cannot come back.
    return NextTabStop(dialog, window, disabledId, false);
}

}  // namespace vyx::app
