#pragma once

#include "discovery/ComboBox.h"
#include "discovery/Dialog.h"
#include "discovery/DeviceList.h"
#include "resources/resource.h"

namespace korvo {

// The device-choice dialog: a drop-down list of the device descriptions,
// the last one preselected, with OK and Cancel. After IDOK, m_nSelected is
// the index of the chosen entry in *m_pDeviceList.
class CSelectDlg : public CDialog {
 public:
  enum { IDD = IDD_SELECT_DEVICE };

  CSelectDlg() : CDialog(IDD) {}
  ~CSelectDlg() override = default;

  CComboBox m_cbDevice;                       // control IDC_DEVICE
  int m_nSelected = -1;                       // the pick, once OK is pressed
  const DeviceList* m_pDeviceList = nullptr;  // not owned; outlives the dialog

 protected:
  void DoDataExchange(CDataExchange* pDX) override;

 public:
  bool OnInitDialog() override;
};

}  // namespace korvo
