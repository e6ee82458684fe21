// The least dialog framework the program needs: a modal dialog made from a
// dialog resource, a dialog procedure that hands each message to virtual
// handlers, an end with a result, and text fields copied into their static
// controls.
#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace platform {

class Platform;

class Dialog {
public:
    Dialog(Platform& os, int resourceId);
    virtual ~Dialog() = default;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Shows the dialog and returns the result it ended with (-1 when it
    // could not be made).
    INT_PTR DoModal(HWND owner = nullptr);
    HWND Window() const { return window_; }

protected:
    // Binds a text field to a static control; UpdateData copies it over.
    void Bind(int controlId, std::string& field);
    virtual void DoDataExchange();
    // Copies every bound field into its control.
    void UpdateData();
    void EndDialog(INT_PTR result);

    // Return true when the focus was set by the handler itself.
    virtual BOOL OnInitDialog() { return TRUE; }
    // A command (button or menu); the default ends the dialog on IDOK and
    // IDCANCEL.
    virtual void OnCommand(int id, int notification);
    // ESC, the close box and every IDCANCEL command.
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // Any other message: true when handled, with its result.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    Platform& os_;

private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    int resourceId_;
    HWND window_ = nullptr;
    std::vector<std::pair<int, std::string*>> fields_;
};

// The module whose resources the dialogs and strings come from.
HINSTANCE ResourceModule();

}  // namespace platform
