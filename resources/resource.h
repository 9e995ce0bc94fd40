// Resource ids and texts, shared by the resource script and the code.
// Plain #defines only: the resource compiler reads this file too.
#pragma once

// The device-choice dialog, its drop-down list of devices, and its texts
// (the template shows the label with a colon after it).
#define IDD_SELECT_DEVICE 101
#define IDC_DEVICE 1001
#define SELECT_DEVICE_CAPTION "Select Device to Test"
#define SELECT_DEVICE_LABEL "Device"

// The dialog's answers, as windows.h defines them.
#ifndef IDOK
#define IDOK 1
#endif
#ifndef IDCANCEL
#define IDCANCEL 2
#endif
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
