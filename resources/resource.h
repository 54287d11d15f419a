#pragma once

// Control ids of the view dialog DLG_USE. Shared by the resource script, the dialog code and the
// tests; plain #defines so that the resource compiler can read it too.
#define IDC_VIEW_FRAME 1016
#define IDC_ROTATE_LEFT 1017
#define IDC_ROTATE_RIGHT 1018
#define IDC_MARK 1020
#define IDC_OFFSET_X 1000
#define IDC_OFFSET_Y 1001
#define IDC_TOTAL 1005
