#pragma once

#include "discovery/DeviceList.h"
#include "platform/DialogPresenter.h"
#include "resources/resource.h"

namespace korvo {

// The device-choice dialog: a drop-down list of the device descriptions,
// the last one preselected, with OK and Cancel. DoModal answers IDOK when
// the operator confirms, and m_nSelected is then the index of the chosen
// entry in *m_pDeviceList; anything else means not confirmed.
class CSelectDlg {
 public:
  int DoModal();

  DropDownList m_cbDevice;                    // control IDC_DEVICE
  int m_nSelected = -1;                       // the pick, once confirmed
  const DeviceList* m_pDeviceList = nullptr;  // not owned; outlives the dialog

 private:
  void OnInitDialog();
};

}  // namespace korvo
