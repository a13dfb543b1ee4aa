// Resource and control identifiers of the maker; the GUI tests read them from here too,
// so keep one plain #define per line.
#pragma once

// Pictures: the usage picture and the button glyphs (normal and disabled side by side).
#define IDB_USAGE 200
#define IDB_GLYPH_BROWSE 201
#define IDB_GLYPH_MAKE 202
#define IDB_GLYPH_CLOSE 203
#define IDB_GLYPH_ADV 204
#define IDB_GLYPH_OK 205
#define IDB_GLYPH_CANCEL 206
#define IDB_GLYPH_DEFAULT 207
// The same pictures drawn at 125, 150, 175 and 200 per cent: the id plus 1 to 4 steps.
#define IDB_VARIANT_STEP 10

// Main window (fmMain).
#define IDC_MAIN_GROUP 1001
#define IDC_TARGET_LABEL 1002
#define IDC_HELP_IMAGE 1003
#define IDC_TARGET 1004
#define IDC_USAGE 1005
#define IDC_BROWSE 1006
#define IDC_MAKE 1007
#define IDC_MAIN_CLOSE 1008
#define IDC_ADV 1009

// Advanced settings dialog (fmAdv).
#define IDC_ADV_GROUP 1101
#define IDC_NAME_LABEL 1102
#define IDC_CHECKER_NAME 1103
#define IDC_BEVEL 1104
#define IDC_FOLDER_LABEL 1105
#define IDC_FOLDER_MESSAGE 1106
#define IDC_NOFILE_LABEL 1107
#define IDC_NOFILE_MESSAGE 1108
#define IDC_BROKEN_LABEL 1109
#define IDC_BROKEN_MESSAGE 1110
#define IDC_ADV_OK 1111
#define IDC_ADV_CANCEL 1112
#define IDC_ADV_DEFAULT 1113

// Progress dialog (fmProgress).
#define IDC_STATE 1201
#define IDC_PROGRESS 1202
#define IDC_PROGRESS_CANCEL 1203
