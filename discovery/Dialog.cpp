#include "discovery/Dialog.h"

#include "discovery/DataExchange.h"

namespace korvo {

// What the presenter calls: hands the shown window to the dialog, then
// routes to its overridable operations.
class CDialog::Events final : public DialogEvents {
 public:
  explicit Events(CDialog& dialog) : dialog_(dialog) {}

  bool InitDialog(DialogWindow& window) override {
    dialog_.m_pWindow = &window;
    return dialog_.OnInitDialog();
  }

  void Command(int commandId) override {
    if (commandId == IDOK) dialog_.OnOK();
    if (commandId == IDCANCEL) dialog_.OnCancel();
  }

 private:
  CDialog& dialog_;
};

int CDialog::DoModal() {
  Events events(*this);
  int result = RunModalDialog(m_nIDTemplate, events);
  m_pWindow = nullptr;  // the presenter has taken the window down
  return result;
}

bool CDialog::OnInitDialog() {
  UpdateData(false);
  return true;
}

bool CDialog::UpdateData(bool saveAndValidate) {
  if (!m_pWindow) return false;
  CDataExchange dx(this, saveAndValidate);
  DoDataExchange(&dx);
  return true;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnOK() {
  if (!UpdateData(true)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::EndDialog(int result) {
  if (m_pWindow) m_pWindow->EndDialog(result);
}

}  // namespace korvo
