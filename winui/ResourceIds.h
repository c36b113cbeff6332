// Numbers of the Windows window's resources: dialog templates, menus,
// icons and the controls they hold. Read by the resource compiler and the
// C++ sources alike, so plain #defines only.
#pragma once

// Icons.
#define IDI_PROGRAM 6000
#define IDI_PROGRAM_SMALL 6001
#define IDI_ROW_POSSIBLE 6030  // the row images: 6030 + RowImage
#define IDI_ABOUT 6051
#define IDI_UPDATE 6350

// Dialog templates; the English twin of a German one is its number + 200.
#define IDD_MAIN_DE 6200
#define IDD_MAIN_EN 6400
#define IDM_MAIN_DE 6201
#define IDM_MAIN_EN 6401
#define IDD_SERIAL_NOTICE_DE 6202
#define IDD_SERIAL_NOTICE_EN 6402
#define IDD_CLOSE_QUESTION_DE 6203
#define IDD_CLOSE_QUESTION_EN 6403
#define IDD_PROGRESS 6010
#define IDD_ADJUSTMENT_NOTICE 6018
#define IDD_VERSION_QUESTION 6019
#define IDD_STEP_NOTICE 6020
#define IDD_LOG_DIRECTORY 6040
#define IDD_ABOUT 6050
#define IDD_PROPERTIES 6060
#define IDD_MESSAGE 6090

// Controls.
#define IDC_UPDATE_ICON 6012
#define IDC_STEP_TEXT 6013
#define IDC_PROGRESS 6014
#define IDC_PROGRESS_CANCEL 6015
#define IDC_DEVICE_LIST 6016
#define IDC_START_UPDATE 6017
#define IDC_TEXT1 6021
#define IDC_TEXT2 6022
#define IDC_TEXT3 6023
#define IDC_LEGEND_IMPOSSIBLE 6031  // the legend's icons: 6030 + RowImage
#define IDC_LEGEND_FAILED 6034
#define IDC_CLOSING_NOTICE 6035
#define IDC_LEGEND_TEXT 6036        // the legend's labels: 6036 + RowImage - 1
#define IDC_LOG_PATH 6041
#define IDC_LOG_FILE 6042
#define IDC_OPEN_DIRECTORY 6043
#define IDC_ABOUT_ICON 6052
#define IDC_ABOUT_VERSION 6053
#define IDC_PROPERTIES_GROUP 6061
#define IDC_ADDRESS_LABEL 6091
#define IDC_ADDRESS 6092

// Menu commands of the window besides the port kinds (window/UpdateWndCore.h).
#define ID_LOG_FILE_DIRECTORY 46101
#define ID_APP_ABOUT 46111
#define ID_DEVICE_PROPERTIES 46201
