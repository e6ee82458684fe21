#include "platform/dialog.h"

#include "platform/platform.h"

namespace platform {

HINSTANCE ResourceModule() { return ::GetModuleHandleA(nullptr); }

Dialog::Dialog(Platform& os, int resourceId) : os_(os), resourceId_(resourceId) {}

INT_PTR Dialog::DoModal(HWND owner) {
    return os_.DialogBoxParamA(ResourceModule(), MAKEINTRESOURCEA(resourceId_), owner, &Dialog::Procedure,
                               reinterpret_cast<LPARAM>(this));
}

void Dialog::Bind(int controlId, std::string& field) { fields_.emplace_back(controlId, &field); }

void Dialog::DoDataExchange() {}

void Dialog::UpdateData() {
    if (fields_.empty()) DoDataExchange();
    for (const auto& field : fields_) os_.SetDlgItemTextA(window_, field.first, field.second->c_str());
}

void Dialog::EndDialog(INT_PTR result) { os_.EndDialog(window_, result); }

void Dialog::OnCommand(int id, int) {
    if (id == IDOK) EndDialog(IDOK);
}

bool Dialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

INT_PTR CALLBACK Dialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        ::SetWindowLongPtrA(window, DWLP_USER, lParam);
        self->window_ = window;
        self->UpdateData();
        return self->OnInitDialog();
    }
    self = reinterpret_cast<Dialog*>(::GetWindowLongPtrA(window, DWLP_USER));
    if (!self) return FALSE;
    if (message == WM_COMMAND) {
        const int id = LOWORD(wParam);
        if (id == IDCANCEL) {
            self->OnCancel();
        } else {
            self->OnCommand(id, HIWORD(wParam));
        }
        return TRUE;
    }
    LRESULT result = 0;
    if (!self->OnMessage(message, wParam, lParam, result)) return FALSE;
    // These few messages take their answer as the procedure's own result.
    if (message == WM_QUERYDRAGICON || (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC)) {
        return static_cast<INT_PTR>(result);
    }
    ::SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
    return TRUE;
}

}  // namespace platform
