// The texts that live in the per-language dialog templates and menus rather
// than in the string table: the main window (templates 6200/6400, menus
// 6201/6401) and the serial settings notice (6202/6402). Which set is used
// follows GetUserLanguage, as the choice of template did.
// Thread: any (constant data).
#pragma once

struct MainWindowTexts {
    const char* deviceListGroup;
    const char* legendImpossible;
    const char* legendRunning;
    const char* legendSucceeded;
    const char* legendFailed;
    int legendRightColumnX;  // the English labels are shorter; the column moves right
    const char* deviceSearchGroup;
    const char* startUpdate;
    const char* cancel;
    const char* columns[4];
    // Menu
    const char* menuSettings;
    const char* menuSerialPorts;
    const char* menuUsbPorts;
    const char* menuIpPorts;
    const char* activate;
    const char* deactivate;
    const char* options;
    const char* menuInfo;
    const char* menuLogFile;
    const char* directory;
    const char* infoAbout;
    // Closing while updates run: the question, and the notice while an
    // update that programs the FLASH is waited for.
    const char* closeQuestion;
    const char* closingNotice;
};

struct SerialNoticeTexts {
    const char* caption;
    const char* intro;
    const char* compare;
    const char* baudLabel;
    const char* baudValue;
    const char* stopBitsLabel;
    const char* stopBitsValue;
    const char* parityLabel;
    const char* parityValue;
    const char* handshakeLabel;
    const char* handshakeValue;
    const char* question;
    const char* yes;
    const char* no;
};

// The set for the current language (German for 7, English otherwise).
const MainWindowTexts& MainWindowTemplate();
const SerialNoticeTexts& SerialNoticeTemplate();

// The context menu's only entry, the same in both languages.
inline constexpr char kPropertiesMenuText[] = "&Eigenschaften";
