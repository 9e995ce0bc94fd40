#include "discovery/SelectDlg.h"

#include "discovery/DataExchange.h"

namespace korvo {

void CSelectDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_DEVICE, m_cbDevice);
  DDX_CBIndex(pDX, IDC_DEVICE, m_nSelected);
}

bool CSelectDlg::OnInitDialog() {
  // Runs the exchange first: with m_nSelected at -1 nothing is selected.
  CDialog::OnInitDialog();

  // The box is not sorted, so item i is entry i of the list.
  int count = m_pDeviceList ? m_pDeviceList->GetCount() : 0;
  for (int i = 0; i < count; ++i) {
    m_cbDevice.AddString(m_pDeviceList->GetAt(i).description.c_str());
  }
  m_cbDevice.SetCurSel(count - 1);
  return true;
}

}  // namespace korvo
