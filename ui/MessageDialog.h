// CMessageDialog: why a device cannot be updated, or why an update ended,
// with the device's address, name and hardware id.
//
// Thread: the GUI thread. The port and record are only read while the
// dialog is built; the caller keeps them alive that long.
#pragma once

#include <QDialog>
#include <cstdint>

#include "base/BaseObject.h"

class CInterfaceParameter;
class CDeviceParameter;
class QLabel;
class QPushButton;

class CMessageDialog : public QDialog, public CBaseObject {
public:
    KORVA_RUNTIME_CLASS(CMessageDialog)

    CMessageDialog(const CInterfaceParameter* port, const CDeviceParameter* record, uint32_t code,
                   QWidget* parent = nullptr);

    // The message for `code` about `record`: a result code's text (or
    // "Unknown Error!"), text 6264 with the required version, or the text
    // of string `code`.
    static QString MessageText(uint32_t code, const CDeviceParameter& record);

    QString Message() const { return m_strMessage; }

private:
    void OnInitDialog();

    const CInterfaceParameter* m_pPort;
    const CDeviceParameter* m_pRecord;
    uint32_t m_dwCode;
    QString m_strAddressLabel, m_strAddress, m_strNameLabel, m_strName, m_strHwIdLabel, m_strHwId, m_strMessage;
    QPushButton* m_btnOk = nullptr;
};
