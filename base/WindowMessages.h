// Numbers of the window messages through which workers reach the main
// window and the update progress window (see base/MessageWindow.h).
//
// One place for every number, so sender and receiver cannot disagree.
#pragma once

#include <cstdint>

// Messages of the main window.
inline constexpr uint32_t WM_START_DEVICE_SEARCH = 0x0401;
inline constexpr uint32_t WM_DEVICE_SEARCH_STEP = 0x0402;           // wParam: step (low 16 bits)
inline constexpr uint32_t WM_DEVICE_SEARCH_CANCELED = 0x0403;
inline constexpr uint32_t WM_DEVICE_SEARCH_FINISHED = 0x0404;       // wParam: device record, lParam: port record
inline constexpr uint32_t WM_DEVICE_SEARCH_ERROR = 0x0405;
inline constexpr uint32_t WM_UPDATE_CANCELED = 0x0415;              // wParam: port record, lParam: result code
inline constexpr uint32_t WM_UPDATE_FINISHED = 0x0416;              // wParam: port record, lParam: device record
inline constexpr uint32_t WM_CREATE_DEVICE_UPDATE_WINDOW = 0x041E;  // wParam: title, lParam: update thread
inline constexpr uint32_t WM_DESTROY_DEVICE_UPDATE_WINDOW = 0x041F; // lParam: progress window
inline constexpr uint32_t WM_SHOW_MESSAGE_DLG = 0x0428;             // wParam: code or string number, lParam: port record

// Messages of the update progress window.
inline constexpr uint32_t WM_SET_UPDATE_MESSAGE = 0x040B;   // lParam: German string number
inline constexpr uint32_t WM_SHOW_PROGRESS_BAR = 0x040C;    // wParam: start and lower end, lParam: upper end
inline constexpr uint32_t WM_UPDATE_PROGRESS_BAR = 0x040D;  // lParam: position
inline constexpr uint32_t WM_HIDE_PROGRESS_BAR = 0x040E;
inline constexpr uint32_t WM_SHOW_CANCEL_BUTTON = 0x040F;   // lParam: 1 show, 0 hide
