// Numbers of the program's texts (German numbers; the English twin is number + 200).
//
// The texts themselves live in resources/strings/StringTable.cpp. The texts of the
// result codes are reached through the result-code table (base/ResultCodes.h), so
// only the one that is also shown as a message, IDS_UPDATE_CANCELED, has a name.
#pragma once

#include <cstdint>

// Messages a worker hands to the user interface, and the update document's notices
// and question before an update.
inline constexpr uint32_t IDS_UPDATE_SUCCESSFUL           = 6250;
inline constexpr uint32_t IDS_INTERFACE_NOT_INITIALIZED   = 6251;
inline constexpr uint32_t IDS_NOT_MAKERS_DEVICE           = 6252;
inline constexpr uint32_t IDS_DEVICE_NOT_UPDATABLE        = 6253;
inline constexpr uint32_t IDS_DEVICE_NAME_INCORRECT       = 6254;
inline constexpr uint32_t IDS_HARDWARE_NOT_COMMERCIAL     = 6255;
inline constexpr uint32_t IDS_HW_SW_ID_INCORRECT          = 6256;
inline constexpr uint32_t IDS_HW_ID_INCORRECT             = 6257;
inline constexpr uint32_t IDS_SW_ID_INCORRECT             = 6258;
inline constexpr uint32_t IDS_RESTART_FAILED              = 6259;
inline constexpr uint32_t IDS_CONNECTION_ABORTED          = 6260;
inline constexpr uint32_t IDS_TRANSFER_ERROR              = 6261;
inline constexpr uint32_t IDS_ADJUST_FAILED               = 6262;
inline constexpr uint32_t IDS_PARAMETER_CHECK_FAILED      = 6263;
inline constexpr uint32_t IDS_SW_VERSION_REQUIRED         = 6264;
inline constexpr uint32_t IDS_USB_UPDATE_NOT_SUPPORTED    = 6271;
inline constexpr uint32_t IDS_VERSION_NEWER               = 6226;
inline constexpr uint32_t IDS_VERSION_CHANGE_IMPOSSIBLE   = 6227;
inline constexpr uint32_t IDS_VERSION_NOT_AT_ONCE         = 6228;
inline constexpr uint32_t IDS_ASK_ADJUST_NOTE             = 6229;
inline constexpr uint32_t IDS_ASK_ADJUST_CONDITIONS       = 6230;
inline constexpr uint32_t IDS_ASK_START_UPDATE            = 6231;

// Progress texts of the update, one at a time (there is no 6215).
inline constexpr uint32_t IDS_PROG_UPDATE_STARTED         = 6210;
inline constexpr uint32_t IDS_PROG_TRANSMIT_DATA          = 6211;
inline constexpr uint32_t IDS_PROG_CHECKSUM               = 6212;
inline constexpr uint32_t IDS_PROG_PREPARE_FLASH          = 6213;
inline constexpr uint32_t IDS_PROG_COPY_FLASH             = 6214;
inline constexpr uint32_t IDS_PROG_RESTART                = 6216;
inline constexpr uint32_t IDS_PROG_REQUEST_DATA           = 6217;
inline constexpr uint32_t IDS_UPDATE_CANCELED             = 6218;
inline constexpr uint32_t IDS_PROG_READ_USER_SETTINGS     = 6219;
inline constexpr uint32_t IDS_PROG_READ_FACTORY_SETTINGS  = 6220;
inline constexpr uint32_t IDS_PROG_WRITE_USER_SETTINGS    = 6221;
inline constexpr uint32_t IDS_PROG_WRITE_FACTORY_SETTINGS = 6222;
inline constexpr uint32_t IDS_PROG_SAVE_USER_SETTINGS     = 6223;
inline constexpr uint32_t IDS_PROG_SAVE_FACTORY_SETTINGS  = 6224;
inline constexpr uint32_t IDS_PROG_ADJUST                 = 6225;

// Button captions, window titles and labels of the dialogs.
inline constexpr uint32_t IDS_BTN_OK                      = 6280;
inline constexpr uint32_t IDS_BTN_CANCEL                  = 6281;
inline constexpr uint32_t IDS_BTN_FINISH                  = 6282;
inline constexpr uint32_t IDS_BTN_YES                     = 6283;
inline constexpr uint32_t IDS_BTN_NO                      = 6284;
inline constexpr uint32_t IDS_BTN_OPEN_DIRECTORY          = 6285;
inline constexpr uint32_t IDS_TITLE_FIRMWARE_UPDATE       = 6351;
inline constexpr uint32_t IDS_TITLE_VERSION_CHECK         = 6352;
inline constexpr uint32_t IDS_TITLE_LOG_DIRECTORY         = 6353;
inline constexpr uint32_t IDS_LABEL_PATH                  = 6354;
inline constexpr uint32_t IDS_LABEL_FILE                  = 6355;
inline constexpr uint32_t IDS_TITLE_DEVICE_PROPERTIES     = 6356;
inline constexpr uint32_t IDS_LABEL_DEVICE_NAME           = 6357;
inline constexpr uint32_t IDS_LABEL_SERIAL_NUMBER         = 6358;
inline constexpr uint32_t IDS_LABEL_HARDWARE_ID           = 6359;
inline constexpr uint32_t IDS_LABEL_SOFTWARE_VERSION      = 6360;
inline constexpr uint32_t IDS_LABEL_BOARD_IDS             = 6361;
inline constexpr uint32_t IDS_TITLE_WARNING               = 6370;
inline constexpr uint32_t IDS_LABEL_ADDRESS               = 6371;

// Brand names: German only, loaded by their own number in either language.
inline constexpr uint32_t IDS_BRAND_MAIN                  = 6100;
inline constexpr uint32_t IDS_BRAND_SECOND                = 6101;
