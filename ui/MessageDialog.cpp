#include "ui/MessageDialog.h"

#include <QLabel>
#include <QPushButton>

#include "base/ResultCodes.h"
#include "base/StringIds.h"
#include "base/Strings.h"
#include "device/DeviceParameter.h"
#include "transport/InterfaceParameter.h"
#include "ui/DialogTemplate.h"
#include "window/MessageText.h"


CMessageDialog::CMessageDialog(const CInterfaceParameter* port, const CDeviceParameter* record, uint32_t code,
                               QWidget* parent)
    : QDialog(parent), m_pPort(port), m_pRecord(record), m_dwCode(code) {
    m_strAddressLabel = LoadText(IDS_LABEL_ADDRESS);
    m_strNameLabel = LoadText(IDS_LABEL_DEVICE_NAME);
    m_strHwIdLabel = LoadText(IDS_LABEL_HARDWARE_ID);
    OnInitDialog();
}

QString CMessageDialog::MessageText(uint32_t code, const CDeviceParameter& record) {
    return Qs(MessageDialogText(code, &record));
}

void CMessageDialog::OnInitDialog() {
    const CDialogUnits du(DialogFont());
    SetUpDialogFrame(this, du, 190, 130, false);
    setWindowModality(Qt::ApplicationModal);
    setWindowTitle(BrandName() + QStringLiteral(" - ") + LoadText(IDS_TITLE_WARNING));
    setWindowIcon(QIcon());

    if (m_pPort != nullptr) m_strAddress = Qs(m_pPort->GetName());
    if (m_pRecord != nullptr) {
        m_strName = Qs(m_pRecord->GetDeviceName());
        m_strHwId = Qs(m_pRecord->GetHardwareIdText());
        m_strMessage = PlainLines(MessageText(m_dwCode, *m_pRecord));
    }

    auto label = [&](int id, const QString& text, int x, int y, int w, int h) {
        auto* control = PlaceControl(new QLabel(text, this), id, du, x, y, w, h);
        control->setTextFormat(Qt::PlainText);
        return control;
    };
    label(6091, m_strAddressLabel, 8, 12, 60, 8);
    label(6092, m_strAddress, 75, 12, 107, 8);
    label(6062, m_strNameLabel, 8, 24, 60, 8);
    label(6063, m_strName, 75, 24, 80, 8);
    label(6066, m_strHwIdLabel, 8, 36, 60, 8);
    label(6067, m_strHwId, 75, 36, 80, 8);
    QLabel* message = label(6013, m_strMessage, 8, 65, 174, 32);
    message->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    message->setWordWrap(true);

    m_btnOk = PlaceControl(new QPushButton(LoadText(IDS_BTN_OK), this), 1, du, 65, 109, 60, 14);
    m_btnOk->setDefault(true);
    connect(m_btnOk, &QPushButton::clicked, this, &QDialog::accept);
    CenterDialog(this);
}
