#pragma once

#include "platform/DialogPresenter.h"

namespace korvo {

class CDialog;

// A combo box of a dialog, named by its control id. Every call reaches the
// control of the dialog as it is shown at that moment; while the dialog is
// not shown, or before the box is bound, each call answers CB_ERR.
class CComboBox {
 public:
  // Binds this object to control `controlId` of `dialog` (see DDX_Control).
  void Attach(const CDialog* dialog, int controlId);

  int AddString(const char* text);  // the new item's index
  int SetCurSel(int index);         // index, or CB_ERR when outside the items
  int GetCurSel() const;            // CB_ERR when nothing is selected
  int GetCount() const;

 private:
  ComboBoxControl* Control() const;

  const CDialog* m_pDialog = nullptr;
  int m_nID = 0;
};

}  // namespace korvo
