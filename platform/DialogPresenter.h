#pragma once

// The presentation of a modal dialog: the part that each platform draws its
// own way. The dialog's logic (discovery/Dialog.h, CDialog and the classes
// derived from it) is portable; it talks to whatever shows it only through
// the three interfaces below.
//
// One modal run, as every presenter carries it out:
//
//   1. RunModalDialog(templateId, events) builds the dialog described by
//      template `templateId` (its caption and its controls). If it cannot,
//      it returns kDialogNotShown at once and calls no event.
//   2. Once the controls exist and before the operator sees anything, it
//      calls events.InitDialog(window) exactly once. The portable dialog
//      fills the controls there through `window` (ComboBox(id)->AddString,
//      SetCurSel, ...). Its answer is true when the presenter should give
//      the initial focus itself.
//   3. It shows the dialog and passes each command of the operator to
//      events.Command(id): IDOK for the OK button (and Enter, as OK is the
//      default button); IDCANCEL for the Cancel button, Escape and the close
//      box. Before IDOK it must have stored the operator's pick in the
//      controls, so that the portable dialog can read it back there
//      (GetCurSel). Commands are ignored by the portable dialog unless they
//      end it, in which case it calls window.EndDialog(result).
//   4. After EndDialog(result), the presenter stops asking, takes the
//      dialog down and returns `result` from RunModalDialog. EndDialog may
//      come from within InitDialog too: then the dialog is never shown.
//
// `window` and the controls it hands out are valid from InitDialog until
// RunModalDialog returns; the portable side drops them then. All calls come
// on the thread that called RunModalDialog.
//
// Win32 presenter (the intended fit): DialogBoxParamA(instance,
// MAKEINTRESOURCEA(templateId), nullptr, proc, &events), whose -1 answer
// becomes kDialogNotShown. WM_INITDIALOG calls InitDialog with a window
// wrapping the HWND and returns its answer; WM_COMMAND with LOWORD(wParam)
// IDOK or IDCANCEL calls Command (the system already turns Escape and the
// close box into IDCANCEL). DialogWindow::EndDialog is ::EndDialog(hwnd,
// result). ComboBox(id) wraps GetDlgItem(hwnd, id) when that is a combo box,
// and its operations are CB_ADDSTRING, CB_SETCURSEL, CB_GETCURSEL and
// CB_GETCOUNT sent to it, whose answers already follow the rules below.
//
// The template ids and control ids are those of resources/resource.h.

// Command and result values, the same as windows.h defines them, so that
// both can be included in one file.
#ifndef IDOK
#define IDOK 1
#endif
#ifndef IDCANCEL
#define IDCANCEL 2
#endif
// A combo box's answer for "no item" and for a failed operation.
#ifndef CB_ERR
#define CB_ERR (-1)
#endif

namespace korvo {

// RunModalDialog's answer when the dialog could not be shown at all (no
// such template, no place to show it). Never IDOK.
inline constexpr int kDialogNotShown = -1;

// A drop-down list of a shown dialog: items in the order added (never
// sorted), zero-based indices, at most one item selected.
class ComboBoxControl {
 public:
  // Appends an item; its index, or CB_ERR when it cannot be added.
  virtual int AddString(const char* text) = 0;
  // Selects the item at `index`; returns index. An index outside the items
  // (CB_ERR included) clears the selection and returns CB_ERR.
  virtual int SetCurSel(int index) = 0;
  // The selected item's index, or CB_ERR when none is selected.
  virtual int GetCurSel() const = 0;
  virtual int GetCount() const = 0;

 protected:
  ~ComboBoxControl() = default;
};

// The shown dialog, as the portable dialog reaches it.
class DialogWindow {
 public:
  // The combo box with this control id, or nullptr when the dialog has none.
  virtual ComboBoxControl* ComboBox(int controlId) = 0;
  // Closes the dialog: RunModalDialog returns `result` once the current
  // event has returned.
  virtual void EndDialog(int result) = 0;

 protected:
  ~DialogWindow() = default;
};

// The portable dialog, as the presenter reaches it.
class DialogEvents {
 public:
  // Step 2 above; true: the presenter sets the initial focus.
  virtual bool InitDialog(DialogWindow& window) = 0;
  // Step 3 above: IDOK or IDCANCEL.
  virtual void Command(int commandId) = 0;

 protected:
  ~DialogEvents() = default;
};

// Runs the dialog of template `templateId` modally, with no parent window,
// and returns the result given to EndDialog, or kDialogNotShown.
int RunModalDialog(int templateId, DialogEvents& events);

}  // namespace korvo
