#include "discovery/SelectDlg.h"

namespace korvo {

void CSelectDlg::OnInitDialog() {
  // The list is not sorted, so item i is entry i of the device list.
  m_cbDevice = {};
  int count = m_pDeviceList ? m_pDeviceList->GetCount() : 0;
  for (int i = 0; i < count; ++i) m_cbDevice.items.push_back(m_pDeviceList->GetAt(i).description);
  m_cbDevice.selection = count - 1;
}

int CSelectDlg::DoModal() {
  OnInitDialog();
  std::optional<int> pick = AskChoice(SELECT_DEVICE_CAPTION, SELECT_DEVICE_LABEL, m_cbDevice);
  if (!pick) return IDCANCEL;
  m_nSelected = *pick;
  return IDOK;
}

}  // namespace korvo
