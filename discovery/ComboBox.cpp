#include "discovery/ComboBox.h"

#include "discovery/Dialog.h"

namespace korvo {

void CComboBox::Attach(const CDialog* dialog, int controlId) {
  m_pDialog = dialog;
  m_nID = controlId;
}

ComboBoxControl* CComboBox::Control() const {
  DialogWindow* window = m_pDialog ? m_pDialog->GetWindow() : nullptr;
  return window ? window->ComboBox(m_nID) : nullptr;
}

int CComboBox::AddString(const char* text) {
  ComboBoxControl* control = Control();
  return control ? control->AddString(text) : CB_ERR;
}

int CComboBox::SetCurSel(int index) {
  ComboBoxControl* control = Control();
  return control ? control->SetCurSel(index) : CB_ERR;
}

int CComboBox::GetCurSel() const {
  ComboBoxControl* control = Control();
  return control ? control->GetCurSel() : CB_ERR;
}

int CComboBox::GetCount() const {
  ComboBoxControl* control = Control();
  return control ? control->GetCount() : CB_ERR;
}

}  // namespace korvo
