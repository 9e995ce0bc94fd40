// Modal dialogs from the program's dialog templates, shown by the system's
// dialog manager. The portable dialog sees only DialogWindow and the combo
// boxes; the dialog manager's own handling gives Enter (OK is the default
// button), Escape and the close box (IDCANCEL).
#include <windows.h>

#include "platform/DialogPresenter.h"
#include "platform/win32/WindowStation.h"

#include <map>
#include <optional>

namespace korvo {

namespace {

// A drop-down list, reached through its messages. A failed CB_ADDSTRING may
// also answer CB_ERRSPACE, and not every implementation clears the selection
// for an index past the end, so those two are made to answer as promised.
class Win32ComboBox final : public ComboBoxControl {
 public:
  explicit Win32ComboBox(HWND control) : control_(control) {}

  int AddString(const char* text) override {
    int index = Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    return index < 0 ? CB_ERR : index;
  }
  int SetCurSel(int index) override {
    if (index < 0 || index >= GetCount()) {
      Send(CB_SETCURSEL, static_cast<WPARAM>(-1), 0);  // clears the selection
      return CB_ERR;
    }
    return Send(CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }
  int GetCurSel() const override { return Send(CB_GETCURSEL, 0, 0); }
  int GetCount() const override { return Send(CB_GETCOUNT, 0, 0); }

 private:
  int Send(UINT message, WPARAM wParam, LPARAM lParam) const {
    return static_cast<int>(SendMessageA(control_, message, wParam, lParam));
  }

  HWND control_;
};

bool IsComboBox(HWND control) {
  char className[16];
  if (!GetClassNameA(control, className, sizeof className)) return false;
  return lstrcmpiA(className, "ComboBox") == 0;
}

class Win32DialogWindow final : public DialogWindow {
 public:
  explicit Win32DialogWindow(HWND dialog) : dialog_(dialog) {}

  ComboBoxControl* ComboBox(int controlId) override {
    HWND control = GetDlgItem(dialog_, controlId);
    if (!control || !IsComboBox(control)) return nullptr;
    // One object per control, kept until the modal run ends.
    return &comboBoxes_.try_emplace(controlId, control).first->second;
  }

  void EndDialog(int result) override { ::EndDialog(dialog_, result); }

 private:
  HWND dialog_;
  std::map<int, Win32ComboBox> comboBoxes_;
};

// What the dialog procedure needs during one modal run.
struct ModalRun {
  DialogEvents& events;
  std::optional<Win32DialogWindow> window;
};

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* run = reinterpret_cast<ModalRun*>(lParam);
    SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    run->window.emplace(dialog);
    return run->events.InitDialog(*run->window) ? TRUE : FALSE;
  }
  if (message == WM_COMMAND) {
    auto* run = reinterpret_cast<ModalRun*>(GetWindowLongPtrA(dialog, DWLP_USER));
    int command = LOWORD(wParam);
    if (!run || (command != IDOK && command != IDCANCEL)) return FALSE;
    run->events.Command(command);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

int RunModalDialog(int templateId, DialogEvents& events) {
  // Without a visible desktop nobody could answer: the dialog is not shown,
  // as a terminal dialog is not without a terminal.
  if (!HasVisibleWindowStation()) return kDialogNotShown;

  ModalRun run{events, std::nullopt};
  // The templates are linked into the program itself.
  INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), nullptr,
                                   DialogProc, reinterpret_cast<LPARAM>(&run));
  if (result == -1) return kDialogNotShown;
  return static_cast<int>(result);
}

}  // namespace korvo
