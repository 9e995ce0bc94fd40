#include "discovery/DataExchange.h"

#include "discovery/ComboBox.h"
#include "discovery/Dialog.h"

namespace korvo {

void DDX_Control(CDataExchange* pDX, int controlId, CComboBox& control) {
  control.Attach(pDX->m_pDlgWnd, controlId);
}

void DDX_CBIndex(CDataExchange* pDX, int controlId, int& index) {
  DialogWindow* window = pDX->m_pDlgWnd->GetWindow();
  ComboBoxControl* combo = window ? window->ComboBox(controlId) : nullptr;
  if (!combo) return;
  if (pDX->m_bSaveAndValidate) {
    index = combo->GetCurSel();
  } else {
    combo->SetCurSel(index);
  }
}

}  // namespace korvo
