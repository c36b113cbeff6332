#include "ui/DevicePropertyDialog.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "base/StringIds.h"
#include "device/DeviceList.h"
#include "ui/DialogTemplate.h"

namespace {

struct BoardField {
    const char* caption;
    int id;
    int x;       // caption; the value starts at valueX
    int valueX;
    int y;
    BoardSlot slot;
};

constexpr BoardField kBoards[] = {
    {"AB:", 6071, 30, 48, 98, BOARD_AB},   {"CRT:", 6072, 30, 48, 110, BOARD_CRT},
    {"FC:", 6073, 30, 48, 122, BOARD_FC},  {"IF:", 6080, 30, 48, 134, BOARD_IF},
    {"MB:", 6074, 78, 93, 98, BOARD_MB},   {"MC:", 6075, 78, 93, 110, BOARD_MC},
    {"PS:", 6076, 78, 93, 122, BOARD_PS},  {"TE:", 6077, 78, 93, 134, BOARD_TE},
    {"YF:", 6078, 123, 138, 98, BOARD_YF}, {"YP:", 6079, 123, 138, 110, BOARD_YP},
};

}  // namespace

CDevicePropertyDialog::CDevicePropertyDialog(CDeviceList* list, const CInterfaceParameter* port, QWidget* parent)
    : QDialog(parent), m_pDeviceList(list) {
    OnInitDialog(port);
}

void CDevicePropertyDialog::OnInitDialog(const CInterfaceParameter* port) {
    const CDialogUnits du(DialogFont());
    SetUpDialogFrame(this, du, 170, 187, false);
    setWindowTitle(BrandName() + QStringLiteral(" - ") + LoadText(IDS_TITLE_DEVICE_PROPERTIES));

    QString group, name, serial = QStringLiteral("0"), hwId, version;
    QString boards[BOARD_COUNT];
    for (QString& board : boards) board = QStringLiteral("0");

    PortPtr listedPort;
    DevicePtr record;
    if (m_pDeviceList != nullptr && port != nullptr) {
        m_nRow = m_pDeviceList->FindEntry(port);
        if (m_nRow != -1 && m_pDeviceList->GetDeviceAt(m_nRow, &listedPort, &record, nullptr) && record && listedPort) {
            group = QStringLiteral(" ") + Qs(record->GetDeviceType()) + QStringLiteral(" - ") + Qs(listedPort->GetName()) +
                    QStringLiteral(" ");
            name = Qs(record->GetDeviceName());
            serial = Qs(record->GetSerialNumber());
            hwId = Qs(record->GetHardwareIdText());
            version = Qs(record->GetSoftwareVersion());
            for (const BoardField& field : kBoards) boards[field.slot] = QString::number(record->GetBoardId(field.slot));
        } else {
            m_nRow = -1;
        }
    }

    PlaceControl(new QGroupBox(group, this), 6061, du, 8, 12, 154, 138);
    auto label = [&](int id, const QString& text, int x, int y, int w, int h) {
        auto* control = PlaceControl(new QLabel(text, this), id, du, x, y, w, h);
        control->setTextFormat(Qt::PlainText);
        return control;
    };
    const struct {
        int labelId, valueId, y;
        uint32_t text;
        const QString& value;
    } pairs[] = {
        {6062, 6063, 30, IDS_LABEL_DEVICE_NAME, name},
        {6064, 6065, 42, IDS_LABEL_SERIAL_NUMBER, serial},
        {6066, 6067, 54, IDS_LABEL_HARDWARE_ID, hwId},
        {6068, 6069, 66, IDS_LABEL_SOFTWARE_VERSION, version},
    };
    for (const auto& pair : pairs) {
        label(pair.labelId, LoadText(pair.text), 20, pair.y, 60, 8);
        label(pair.valueId, pair.value, 85, pair.y, 65, 8);
    }
    label(6070, LoadText(IDS_LABEL_BOARD_IDS), 20, 86, 130, 8);
    for (const BoardField& field : kBoards) {
        // The captions have no id of their own in the template.
        auto* caption = new QLabel(QString::fromLatin1(field.caption), this);
        caption->setGeometry(du.Rect(field.x, field.y, field.valueX - field.x, 8));
        QLabel* value = label(field.id, boards[field.slot], field.valueX, field.y, 20, 8);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }

    m_btnCancel = PlaceControl(new QPushButton(LoadText(IDS_BTN_CANCEL), this), 2, du, 55, 166, 60, 14);
    m_btnCancel->setDefault(true);
    connect(m_btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    CenterDialog(this);
}
