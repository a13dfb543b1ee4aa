// Control ids shared by sample_app.cpp and sample_app.rc. test_driver.py
// refers to the same numbers, so keep them in sync with it.
#pragma once

#define IDD_SETTINGS 100
#define IDC_NAME 101
#define IDC_ENABLE 102
#define IDC_SIZE_LIST 103
#define IDC_BROWSE 104
#define IDC_APPLY 105
#define IDC_STATUS 106

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
