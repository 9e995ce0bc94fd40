#pragma once

namespace korvo {

class CComboBox;
class CDialog;

// One run of a dialog's data exchange, in one direction.
class CDataExchange {
 public:
  CDataExchange(CDialog* dialog, bool saveAndValidate)
      : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}

  bool m_bSaveAndValidate;  // true: from the controls to the members
  CDialog* m_pDlgWnd;       // the dialog whose controls take part
};

// Binds `control` to the dialog's control `controlId`.
void DDX_Control(CDataExchange* pDX, int controlId, CComboBox& control);

// Exchanges a combo box's selected index with `index` (CB_ERR: none).
// A control the dialog does not have leaves both sides as they are.
void DDX_CBIndex(CDataExchange* pDX, int controlId, int& index);

}  // namespace korvo
