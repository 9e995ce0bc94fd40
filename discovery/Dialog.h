#pragma once

#include "platform/DialogPresenter.h"

namespace korvo {

class CDataExchange;

// A modal dialog built from a dialog template. The platform layer shows it
// (RunModalDialog); this class holds its logic: initialisation, the data
// exchange between members and controls, and the standard OK and Cancel.
// Derived dialogs override DoDataExchange and OnInitDialog.
class CDialog {
 public:
  explicit CDialog(int templateId) : m_nIDTemplate(templateId) {}
  virtual ~CDialog() = default;
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Shows the dialog and returns once it is closed: IDOK, IDCANCEL, or
  // kDialogNotShown when it could not be shown at all.
  virtual int DoModal();

  // Called once the controls exist, before the operator sees them. The base
  // fills the controls from the members. True: the presenter sets the focus.
  virtual bool OnInitDialog();

  // Copies between members and controls: from the controls when
  // saveAndValidate, else to them. False while the dialog is not shown.
  bool UpdateData(bool saveAndValidate = true);

  // The shown dialog; nullptr before and after the modal run.
  DialogWindow* GetWindow() const { return m_pWindow; }

 protected:
  // Each derived dialog binds its controls and exchanges its members here.
  virtual void DoDataExchange(CDataExchange* pDX);
  // OK: take the values from the controls, then close with IDOK.
  virtual void OnOK();
  // Cancel, Escape, the close box: close with IDCANCEL, members untouched.
  virtual void OnCancel();
  void EndDialog(int result);

 private:
  class Events;

  int m_nIDTemplate;
  DialogWindow* m_pWindow = nullptr;
};

}  // namespace korvo
