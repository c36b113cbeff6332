#include "ui/UpdateWnd.h"

#include <QAction>
#include <QEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "window/ProgramVersion.h"
#include "base/StringIds.h"
#include "base/Strings.h"
#include "transport/UsbLibraryFile.h"
#include "ui/AboutDlg.h"
#include "ui/DevicePropertyDialog.h"
#include "ui/DeviceUpdateWnd.h"
#include "update/DevUpdateThread.h"
#include "ui/DialogTemplate.h"
#include "ui/Icons.h"
#include "ui/LogFileDirectoryWnd.h"
#include "ui/MessageDialog.h"
#include "ui/MessagePump.h"
#include "ui/TemplateTexts.h"
#include "ui/UpdateDialogs.h"

namespace {

constexpr int kColumnWidths[4] = {85, 120, 105, 175};  // pixels
constexpr int kRowImageSize = 14;
constexpr size_t kBrandMaxChars = 15;
constexpr size_t kTitleMaxChars = 63;

// Clicks on the list's empty space clear the selection, as in a report
// list, so Start Update follows what the user sees.
class CListClickFilter : public QObject {
public:
    CListClickFilter(QTreeWidget* list, std::function<void()> clicked)
        : QObject(list), m_pList(list), m_Clicked(std::move(clicked)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton && m_pList->itemAt(mouse->position().toPoint()) == nullptr) {
                m_pList->clearSelection();
                m_Clicked();
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QTreeWidget* m_pList;
    std::function<void()> m_Clicked;
};

QString MainTitle() {
    const char* brand = FindStringResource(IDS_BRAND_MAIN);
    // Stored German text in both languages, as the title has always read.
    const char* product = FindStringResource(IDS_TITLE_FIRMWARE_UPDATE);
    std::string title = TruncateUtf8(brand ? brand : "", kBrandMaxChars) + " - " +
                        TruncateUtf8(product ? product : "", kTitleMaxChars) + " - " + carried::kModel +
                        " - Version: " + carried::kVersion1 + "-" + carried::kVersion2;
    return Qs(title);
}

}  // namespace

CUpdateWnd::CUpdateWnd(QWidget* parent) : CUpdateWnd(g_bUsbDllCreated.load() != 0, parent) {}

CUpdateWnd::CUpdateWnd(bool usbLibraryCreated, QWidget* parent) : QDialog(parent) {
    m_pQuestions = std::make_unique<CUpdateQuestions>(this);
    m_pCore = std::make_unique<CUpdateWndCore>(m_Window, *this, usbLibraryCreated);
    m_Window.SetHandler(m_pCore->Handler());
    CMessageWindow::SetMain(&m_Window);
    OnInitDialog();
    m_pPump = new CQtMessagePump(m_Window, this);
}

CUpdateWnd::~CUpdateWnd() {
    // The logic first: it stops searches and updates, which may still send
    // to the message window while it waits for them.
    m_pCore.reset();
    delete m_pPump;
    m_pPump = nullptr;
    m_Window.Close();
}

void CUpdateWnd::OnInitDialog() {
    const CDialogUnits du(DialogFont());
    setFont(DialogFont());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(MainTitle());
    setWindowIcon(ProgramIcon());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    BuildMenu();
    layout->setMenuBar(m_pMenuBar);
    auto* client = new QWidget(this);
    client->setFixedSize(du.Size(370, 220));
    layout->addWidget(client);

    const MainWindowTexts& t = MainWindowTemplate();
    PlaceControl(new QGroupBox(QString::fromUtf8(t.deviceListGroup), client), -1, du, 7, 7, 356, 127)->setObjectName({});

    m_pList = PlaceControl(new QTreeWidget(client), 6016, du, 14, 20, 341, 80);
    m_pList->setColumnCount(4);
    QStringList headers;
    for (const char* column : t.columns) headers << QString::fromUtf8(column);
    m_pList->setHeaderLabels(headers);
    m_pList->header()->setDefaultAlignment(Qt::AlignCenter);
    m_pList->header()->setSectionsMovable(false);
    for (int i = 0; i < 4; ++i) m_pList->setColumnWidth(i, kColumnWidths[i]);
    m_pList->setRootIsDecorated(false);
    m_pList->setItemsExpandable(false);
    m_pList->setUniformRowHeights(true);
    m_pList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pList->setIconSize(QSize(kRowImageSize, kRowImageSize));
    m_pList->setSortingEnabled(true);
    m_pList->sortByColumn(0, Qt::AscendingOrder);
    m_pList->header()->setSortIndicatorShown(false);
    m_pList->header()->setSectionsClickable(false);
    m_pList->setContextMenuPolicy(Qt::CustomContextMenu);
    m_pList->viewport()->installEventFilter(new CListClickFilter(m_pList, [this] { OnListClicked(); }));
    connect(m_pList, &QTreeWidget::itemClicked, this, [this] { OnListClicked(); });
    // Keyboard moves change the selection too; Start Update must follow it.
    connect(m_pList, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (!m_pList->signalsBlocked()) OnListClicked();
    });
    connect(m_pList, &QTreeWidget::customContextMenuRequested, this, &CUpdateWnd::OnListContextMenu);

    // The legend of the row images.
    const struct {
        int iconId, image, x, y;
        const char* text;
    } legend[] = {
        {6031, ROW_IMAGE_IMPOSSIBLE, 14, 105, t.legendImpossible},
        {6032, ROW_IMAGE_RUNNING, 14, 118, t.legendRunning},
        {6033, ROW_IMAGE_SUCCEEDED, t.legendRightColumnX, 105, t.legendSucceeded},
        {6034, ROW_IMAGE_FAILED, t.legendRightColumnX, 118, t.legendFailed},
    };
    // The labels take the width their text needs in the font at hand (the
    // template's 130 units cut the longer German ones off); the right column
    // moves left as far as needed to end with the list.
    const QFontMetrics metrics(DialogFont());
    int rightWidth = 0;
    for (const auto& entry : legend)
        if (entry.x != 14) rightWidth = std::max(rightWidth, metrics.horizontalAdvance(QString::fromUtf8(entry.text)));
    const int listRight = du.X(14 + 341);  // the legend keeps to the list's width
    const int rightLabelX = std::min(du.X(t.legendRightColumnX + 14), listRight - rightWidth - 2);
    for (const auto& entry : legend) {
        const QString text = QString::fromUtf8(entry.text);
        const int labelX = entry.x == 14 ? du.X(entry.x + 14) : rightLabelX;
        auto* icon = new QLabel(client);
        icon->setObjectName(QStringLiteral("ctl%1").arg(entry.iconId));
        icon->setPixmap(RowStateImage(entry.image, kRowImageSize));
        icon->setGeometry(QRect(labelX - du.X(14), du.Y(entry.y), kRowImageSize, kRowImageSize));
        auto* label = new QLabel(text, client);
        const int width = std::min(std::max(du.X(130), metrics.horizontalAdvance(text) + 2), listRight - labelX);
        label->setGeometry(QRect(labelX, du.Y(entry.y + 1), width, std::max(du.Y(8), metrics.height())));
    }

    PlaceControl(new QGroupBox(QString::fromUtf8(t.deviceSearchGroup), client), -1, du, 7, 147, 356, 35)
        ->setObjectName({});
    m_pProgress = PlaceControl(new QProgressBar(client), 6014, du, 14, 162, 341, 10);
    m_pProgress->setTextVisible(false);
    m_pProgress->hide();
    m_pClosingNotice = new QLabel(QString::fromUtf8(t.closingNotice), client);
    m_pClosingNotice->setGeometry(du.Rect(14, 155, 341, 24));
    m_pClosingNotice->setWordWrap(true);
    m_pClosingNotice->setAlignment(Qt::AlignCenter);
    m_pClosingNotice->hide();

    m_btnStartUpdate = PlaceControl(new QPushButton(QString::fromUtf8(t.startUpdate), client), 6017, du, 50, 199, 80, 14);
    m_btnStartUpdate->setEnabled(false);
    m_btnStartUpdate->setAutoDefault(false);
    m_btnCancel = PlaceControl(new QPushButton(QString::fromUtf8(t.cancel), client), 2, du, 240, 199, 80, 14);
    m_btnCancel->setAutoDefault(false);
    connect(m_btnStartUpdate, &QPushButton::clicked, this, [this] { m_pCore->OnStartDeviceUpdate(); });
    connect(m_btnCancel, &QPushButton::clicked, this, &CUpdateWnd::reject);

    m_pCore->OnInitDialog();
    CenterDialog(this);
}

void CUpdateWnd::BuildMenu() {
    const MainWindowTexts& t = MainWindowTemplate();
    m_pMenuBar = new QMenuBar(this);
    auto command = [this](QMenu* menu, uint32_t id, const char* text) {
        QAction* action = menu->addAction(QString::fromUtf8(text));
        action->setObjectName(QStringLiteral("cmd%1").arg(id));
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        m_Commands[id] = action;
        return action;
    };
    QMenu* settings = m_pMenuBar->addMenu(QString::fromUtf8(t.menuSettings));
    QMenu* serial = settings->addMenu(QString::fromUtf8(t.menuSerialPorts));
    command(serial, ID_SERIAL_ACTIVATE, t.activate);
    command(serial, ID_SERIAL_DEACTIVATE, t.deactivate);
    QMenu* usb = settings->addMenu(QString::fromUtf8(t.menuUsbPorts));
    command(usb, ID_USB_ACTIVATE, t.activate);
    command(usb, ID_USB_DEACTIVATE, t.deactivate);
    usb->addSeparator();
    command(usb, ID_USB_OPTIONS, t.options);
    QMenu* ip = settings->addMenu(QString::fromUtf8(t.menuIpPorts));
    command(ip, ID_IP_ACTIVATE, t.activate);
    command(ip, ID_IP_DEACTIVATE, t.deactivate);
    ip->addSeparator();
    command(ip, ID_IP_OPTIONS, t.options);
    QMenu* portMenus[3] = {serial, usb, ip};
    for (int i = 0; i < 3; ++i) {
        m_pPortKindEntries[i] = portMenus[i]->menuAction();
        m_pPortKindEntries[i]->setCheckable(true);
    }
    // Nothing switches the options on.
    m_Commands[ID_USB_OPTIONS]->setEnabled(false);
    m_Commands[ID_IP_OPTIONS]->setEnabled(false);

    QMenu* info = m_pMenuBar->addMenu(QString::fromUtf8(t.menuInfo));
    QMenu* logFile = info->addMenu(QString::fromUtf8(t.menuLogFile));
    command(logFile, ID_LOG_FILE_DIRECTORY, t.directory);
    info->addSeparator();
    command(info, ID_APP_ABOUT, t.infoAbout);
}

QAction* CUpdateWnd::Command(uint32_t id) const {
    auto it = m_Commands.find(id);
    return it != m_Commands.end() ? it->second : nullptr;
}

QAction* CUpdateWnd::PortKindEntry(int index) const {
    return (index >= 0 && index < 3) ? m_pPortKindEntries[index] : nullptr;
}

void CUpdateWnd::OnCommand(uint32_t id) {
    switch (id) {
        case ID_LOG_FILE_DIRECTORY: {
            CUpdateLogFileDirectoryWnd dialog(this);
            dialog.exec();
            break;
        }
        case ID_APP_ABOUT:
            if (m_About) {
                m_About();
            } else {
                CAboutDlg about(this);
                about.exec();
            }
            break;
        default:
            m_pCore->OnCommand(id);
            break;
    }
}

PortPtr CUpdateWnd::PortOfRow(const QTreeWidgetItem* row) const {
    if (row == nullptr) return {};
    const int index = row->data(0, Qt::UserRole).toInt();
    return (index >= 0 && static_cast<size_t>(index) < m_RowPorts.size()) ? m_RowPorts[index] : PortPtr();
}

QTreeWidgetItem* CUpdateWnd::RowOf(const CInterfaceParameter* port) const {
    if (port == nullptr) return nullptr;
    const std::string name = port->GetName();
    for (int i = 0; i < m_pList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = m_pList->topLevelItem(i);
        const PortPtr rowPort = PortOfRow(row);
        if (rowPort && (rowPort.get() == port || rowPort->GetName() == name)) return row;
    }
    return nullptr;
}

void CUpdateWnd::OnListClicked() {
    const QList<QTreeWidgetItem*> selected = m_pList->selectedItems();
    m_pCore->OnActivateDevice(selected.size() == 1 ? PortOfRow(selected.front()) : PortPtr());
}

void CUpdateWnd::OnListContextMenu(const QPoint& position) {
    QTreeWidgetItem* row = m_pList->itemAt(position);
    if (row == nullptr) return;  // empty space: no menu
    // The menu runs an event loop in which a search may rebuild the list:
    // the row is not touched again once the menu is open.
    const PortPtr port = PortOfRow(row);
    QMenu menu(this);
    QAction* properties = menu.addAction(QString::fromUtf8(kPropertiesMenuText));
    properties->setObjectName(QStringLiteral("cmd%1").arg(ID_DEVICE_PROPERTIES));
    if (menu.exec(m_pList->viewport()->mapToGlobal(position)) == properties) ShowDeviceProperties(port);
}

void CUpdateWnd::ShowDeviceProperties(const PortPtr& port) {
    // A copy: the caller's pointer may live in the rows, which a rebuild
    // during the dialog's loop clears.
    const PortPtr keep = port;
    CDevicePropertyDialog dialog(&m_pCore->GetDeviceList(), keep.get(), this);
    dialog.exec();
}

void CUpdateWnd::CloseOnStopRequest() { m_pCore->OnCancel(false); }

IProgressWindow* CUpdateWnd::CreateProgressWindow(const std::string& title, CObject* thread) {
    auto* update = CObject::DownCast<CDevUpdateThread>(thread);
    if (update == nullptr) return nullptr;
    // The thread outlives its window: it asks for the deletion itself.
    return new CDeviceUpdateWnd(Qs(title), thread, [update](CObject*) { update->CancelUpdate(); }, this);
}

int CUpdateWnd::DestroyProgressWindow(CObject* window) {
    auto* progress = CObject::DownCast<CDeviceUpdateWnd>(window);
    if (progress == nullptr) return -1;
    delete progress;
    return 0;
}

// --- IUpdateWndView ----------------------------------------------------------

void CUpdateWnd::SetRows(const std::vector<CDeviceRow>& rows) {
    // A rebuild is not a user's choice: it keeps the selected device
    // selected and tells the logic nothing.
    const QList<QTreeWidgetItem*> selected = m_pList->selectedItems();
    const PortPtr selectedPort = selected.size() == 1 ? PortOfRow(selected.front()) : PortPtr();
    const std::string selectedName = selectedPort ? selectedPort->GetName() : std::string();

    m_pList->blockSignals(true);
    m_pList->clear();
    m_RowPorts.clear();
    QTreeWidgetItem* reselect = nullptr;
    for (const CDeviceRow& row : rows) {
        auto* item = new QTreeWidgetItem();
        item->setIcon(0, QIcon(RowStateImage(row.image, kRowImageSize)));
        item->setText(0, Qs(row.device));
        item->setText(1, Qs(row.type));
        item->setText(2, Qs(row.version));
        item->setText(3, Qs(row.address));
        for (int column = 0; column < 4; ++column) item->setTextAlignment(column, Qt::AlignCenter);
        item->setData(0, Qt::UserRole, static_cast<int>(m_RowPorts.size()));
        m_RowPorts.push_back(row.port);
        m_pList->addTopLevelItem(item);
        if (!selectedName.empty() && row.port && row.port->GetName() == selectedName) reselect = item;
    }
    if (reselect != nullptr) reselect->setSelected(true);
    m_pList->blockSignals(false);
}

void CUpdateWnd::ShowSearchProgress(uint16_t range, uint16_t position) {
    m_pProgress->setRange(0, range);
    m_pProgress->setValue(position);
    m_pProgress->show();
}

void CUpdateWnd::MoveSearchProgress(uint16_t position) { m_pProgress->setValue(position); }

void CUpdateWnd::HideSearchProgress() { m_pProgress->hide(); }

void CUpdateWnd::EnableStartUpdate(bool enable) { m_btnStartUpdate->setEnabled(enable); }

void CUpdateWnd::SetPortMenu(const CPortMenuState& menu) {
    m_Commands[ID_SERIAL_ACTIVATE]->setEnabled(menu.serialActivate);
    m_Commands[ID_SERIAL_DEACTIVATE]->setEnabled(menu.serialDeactivate);
    m_Commands[ID_USB_ACTIVATE]->setEnabled(menu.usbActivate);
    m_Commands[ID_USB_DEACTIVATE]->setEnabled(menu.usbDeactivate);
    m_Commands[ID_IP_ACTIVATE]->setEnabled(menu.ipActivate);
    m_Commands[ID_IP_DEACTIVATE]->setEnabled(menu.ipDeactivate);
    m_pPortKindEntries[0]->setChecked(menu.serialChecked);
    m_pPortKindEntries[1]->setChecked(menu.usbChecked);
    m_pPortKindEntries[2]->setChecked(menu.ipChecked);
}

bool CUpdateWnd::AskSerialSettingsNotice() { return ShowSerialSettingsNotice(this) == 1; }

void CUpdateWnd::ShowMessageDialog(uint32_t code, const PortPtr& port, const DevicePtr& device) {
    CMessageDialog dialog(port.get(), device.get(), code, this);
    dialog.exec();
}

void CUpdateWnd::EndDialog() {
    m_bEnding = true;
    // A stop request can come while a dialog of ours runs its loop (the
    // closing question, a message): it goes first, so the window's own
    // loop can end.
    for (QDialog* dialog : findChildren<QDialog*>(Qt::FindDirectChildrenOnly))
        if (dialog->isVisible() && dialog->isModal()) dialog->reject();
    QDialog::done(QDialog::Rejected);
}

bool CUpdateWnd::AskCloseWhileUpdating() { return ::AskCloseWhileUpdating(this) == 1; }

void CUpdateWnd::ShowClosingAfterUpdates() {
    m_pProgress->hide();
    m_pClosingNotice->show();
    m_btnStartUpdate->setEnabled(false);
    m_btnCancel->setEnabled(false);
    m_pMenuBar->setEnabled(false);
    m_pList->setContextMenuPolicy(Qt::NoContextMenu);
}

void CUpdateWnd::reject() {
    if (m_bEnding) {
        QDialog::reject();
        return;
    }
    m_pCore->OnCancel();  // ends the dialog through EndDialog
}

void CUpdateWnd::accept() {
    // Enter would end the dialog without the closing steps (searches still
    // running); the window stays open instead.
}
