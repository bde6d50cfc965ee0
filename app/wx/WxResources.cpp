#include "app/wx/WxResources.h"

#include <algorithm>

#include <wx/bitmap.h>
#include <wx/button.h>
#include <wx/combobox.h>
#include <wx/image.h>
#include <wx/imagpng.h>
#include <wx/mstream.h>
#include <wx/settings.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "resources/ControlIds.h"
#include "resources/Icon.h"

namespace vyx::app {
namespace {

namespace res = vyx::resources;

wxString FromUtf8(std::string_view text) {
    return wxString::FromUTF8(text.data(), text.size());
}

wxImage DecodePng(const res::IconImage& image) {
    if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr) {
        wxImage::AddHandler(new wxPNGHandler);
    }
    wxMemoryInputStream stream(image.png.data(), image.png.size());
    return wxImage(stream, wxBITMAP_TYPE_PNG);
}

// The icon's image that fits a box of `box` pixels best: the largest not larger.
wxBitmap IconBitmapFor(wxSize box) {
    const int limit = std::min(box.x, box.y);
    const res::IconImage* best = &res::ApplicationIcon().front();
    for (const res::IconImage& image : res::ApplicationIcon()) {
        if (image.size <= limit) {
            best = &image;
        }
    }
    return wxBitmap(DecodePng(*best));
}

wxWindow* CreateControl(wxDialog& dialog, const res::ControlTemplate& control) {
    const wxPoint pos = dialog.ConvertDialogToPixels(wxPoint(control.x, control.y));
    const wxSize size = dialog.ConvertDialogToPixels(wxSize(control.w, control.h));
    const int id = WxIdOf(control.id);
    const wxString text = FromUtf8(control.text);
    switch (control.kind) {
        case res::ControlKind::PushButton:
            return new wxButton(&dialog, id, text, pos, size);
        case res::ControlKind::DefPushButton: {
            auto* button = new wxButton(&dialog, id, text, pos, size);
            button->SetDefault();
            return button;
        }
        case res::ControlKind::GroupBox:
            return new wxStaticBox(&dialog, id, text, pos, size);
        case res::ControlKind::ComboBox: {
            wxArrayString entries;
            for (const std::string_view entry : control.entries) {
                entries.Add(FromUtf8(entry));
            }
            // Editable drop-down, unsorted; natural height, since the template's
            // height is that of the field plus its dropped list.
            return new wxComboBox(&dialog, id, wxEmptyString, pos, wxSize(size.x, -1), entries,
                                  wxCB_DROPDOWN);
        }
        case res::ControlKind::EditBox:
            return new wxTextCtrl(&dialog, id, text, pos, size, wxBORDER_SUNKEN);
        case res::ControlKind::Label: {
            auto* label = new wxStaticText(&dialog, id, wxEmptyString, pos, size,
                                           wxALIGN_LEFT | wxST_NO_AUTORESIZE);
            if ((control.style & res::kNoPrefix) != 0) {
                label->SetLabelText(text);
            } else {
                label->SetLabel(text);
            }
            return label;
        }
        case res::ControlKind::Icon: {
            const wxBitmap bitmap = IconBitmapFor(size);
            // Centred in its box, as a static icon control draws its picture.
            const wxPoint at(pos.x + (size.x - bitmap.GetWidth()) / 2,
                             pos.y + (size.y - bitmap.GetHeight()) / 2);
            return new wxStaticBitmap(&dialog, id, bitmap, at, bitmap.GetSize());
        }
    }
    return nullptr;
}

}  // namespace

int WxIdOf(int templateId) {
    switch (templateId) {
        case res::IDOK:
            return wxID_OK;
        case res::IDCANCEL:
            return wxID_CANCEL;
        case -1:
            return wxID_ANY;
        default:
            return templateId;
    }
}

long WxDialogStyle(const res::DialogTemplate& dialogTemplate) {
    const std::uint32_t style = dialogTemplate.style;
    long wxStyle = wxDIALOG_NO_PARENT;
    if ((style & res::kTitleBar) != 0) {
        wxStyle |= wxCAPTION;
    }
    if ((style & res::kWindowMenu) != 0) {
        wxStyle |= wxSYSTEM_MENU | wxCLOSE_BOX;
    }
    if ((style & res::kMinimizeBox) != 0) {
        wxStyle |= wxMINIMIZE_BOX;
    }
    if ((style & res::kMaximizeBox) != 0) {
        wxStyle |= wxMAXIMIZE_BOX;
    }
    if ((style & res::kResizable) != 0) {
        wxStyle |= wxRESIZE_BORDER;
    }
    return wxStyle;
}

void BuildFromTemplate(wxDialog& dialog, const res::DialogTemplate& dialogTemplate) {
    wxFont font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
    font.SetPointSize(dialogTemplate.pointSize);
    dialog.SetFont(font);
    dialog.SetTitle(FromUtf8(dialogTemplate.title));

    const wxSize client =
        dialog.ConvertDialogToPixels(wxSize(dialogTemplate.width, dialogTemplate.height));
    dialog.SetClientSize(client);
    if ((dialogTemplate.style & res::kResizable) == 0) {
        // Fixed: the window manager offers no resizing.
        dialog.SetMinClientSize(client);
        dialog.SetMaxClientSize(client);
    }

    for (const res::ControlTemplate& control : dialogTemplate.controls) {
        wxWindow* window = CreateControl(dialog, control);
        if (!control.tabStop) {
            window->DisableFocusFromKeyboard();
        }
        if (!control.enabled) {
            window->Disable();
        }
    }
    if ((dialogTemplate.style & res::kCentred) != 0) {
        dialog.Centre(wxBOTH);
    }
}

wxIconBundle ApplicationIcons() {
    wxIconBundle bundle;
    for (const res::IconImage& image : res::ApplicationIcon()) {
        wxIcon icon;
        icon.CopyFromBitmap(wxBitmap(DecodePng(image)));
        bundle.AddIcon(icon);
    }
    return bundle;
}

}  // namespace vyx::app
