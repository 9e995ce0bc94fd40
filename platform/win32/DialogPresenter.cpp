// The dialog on Windows: dialog template 101, shown by the system's dialog
// manager, whose own handling gives Enter (OK is the default button),
// Escape and the close box (IDCANCEL).
#include <windows.h>

#include "platform/DialogPresenter.h"
#include "resources/resource.h"

namespace korvo {

namespace {

// True when the process's window station has a desktop someone can see. A
// service, a scheduled task running while nobody is logged on and an
// OpenSSH session run in window stations without one: a dialog shown there
// can never be answered.
bool HasVisibleWindowStation() {
  USEROBJECTFLAGS flags = {};
  DWORD needed = 0;
  // No answer counts as no desktop: a dialog nobody can see is worse than
  // none.
  if (!GetUserObjectInformationA(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags,
                                 &needed)) {
    return false;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

// What the dialog procedure needs during the modal run.
struct ModalRun {
  const DropDownList& list;
  int pick;
};

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    const DropDownList& list = reinterpret_cast<ModalRun*>(lParam)->list;
    HWND combo = GetDlgItem(dialog, IDC_DEVICE);
    for (const std::string& item : list.items) {
      SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    }
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(list.selection), 0);  // -1: none
    return TRUE;  // the dialog manager sets the focus
  }
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    if (LOWORD(wParam) == IDOK) {
      auto* run = reinterpret_cast<ModalRun*>(GetWindowLongPtrA(dialog, DWLP_USER));
      run->pick = static_cast<int>(SendDlgItemMessageA(dialog, IDC_DEVICE, CB_GETCURSEL, 0, 0));
    }
    EndDialog(dialog, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

}  // namespace

std::optional<int> AskChoice(const char*, const char*, const DropDownList& list) {
  // Without a visible desktop nobody could answer: the dialog is not shown,
  // as a terminal dialog is not without a terminal.
  if (!HasVisibleWindowStation()) return std::nullopt;

  ModalRun run{list, -1};
  // The template is linked into the program itself.
  INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SELECT_DEVICE),
                                   nullptr, DialogProc, reinterpret_cast<LPARAM>(&run));
  if (result != IDOK) return std::nullopt;
  return run.pick;
}

}  // namespace korvo
