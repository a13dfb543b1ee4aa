// Resource and control identifiers of the checker, shared by its resource script, its
// dialog code and the tests that drive the dialog from outside.
#pragma once

#define IDD_CHECKER 102
#define IDC_HEADLINE 1004
#define IDC_PROGRESS1 1000
#define IDC_PROGRESS2 1001
#define IDC_STOP 1003
#define IDT_CHECK 32767
