// Resource ids, shared by the resource script and the code.
// Plain #defines only: the resource compiler reads this file too.
#pragma once

// The device-choice dialog and its drop-down list of devices.
#define IDD_SELECT_DEVICE 101
#define IDC_DEVICE 1001

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
