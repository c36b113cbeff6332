#include "ui/DeviceUpdateWnd.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLayout>
#include <QScreen>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include "base/StringIds.h"
#include "base/Strings.h"
#include "base/WindowMessages.h"
#include "platform/Clock.h"
#include "ui/DialogTemplate.h"
#include "ui/Icons.h"

namespace {
// How much the step text gives up for the bar while the bar is shown.
constexpr int kTextShrinkPixels = 28;
}  // namespace

CDeviceUpdateWnd::CDeviceUpdateWnd(const QString& title, CObject* thread, CancelFn cancel, QWidget* owner)
    : QDialog(owner), m_strTitle(title), m_pThread(thread), m_Cancel(std::move(cancel)) {
    OnInitDialog();
    if (owner != nullptr) PlaceBelowDeviceList(owner);
    show();
    raise();
    activateWindow();
}

void CDeviceUpdateWnd::PlaceBelowDeviceList(QWidget* owner) {
    // Horizontally centred on the owner, its top just under the device list
    // group (the owner's client area, 134 dialog units down), and kept on
    // the owner's screen. Each further window steps down and right.
    const CDialogUnits du(DialogFont());
    int others = 0;
    for (QObject* child : owner->children()) {
        auto* window = dynamic_cast<CDeviceUpdateWnd*>(child);
        if (window != nullptr && window != this && window->isVisible()) ++others;
    }
    const QRect ownerFrame = owner->frameGeometry();
    const QPoint client = owner->mapToGlobal(QPoint(0, 0));
    const int menuHeight = owner->layout() && owner->layout()->menuBar() ? owner->layout()->menuBar()->height() : 0;
    QRect frame = frameGeometry();
    const int step = 24 * others;
    frame.moveTopLeft(QPoint(ownerFrame.center().x() - frame.width() / 2 + step,
                             client.y() + menuHeight + du.Y(134) + step));
    if (QScreen* screen = owner->screen()) {
        const QRect area = screen->availableGeometry();
        if (frame.right() > area.right()) frame.moveRight(area.right());
        if (frame.bottom() > area.bottom()) frame.moveBottom(area.bottom());
        if (frame.left() < area.left()) frame.moveLeft(area.left());
        if (frame.top() < area.top()) frame.moveTop(area.top());
    }
    move(frame.topLeft());
}

CDeviceUpdateWnd::~CDeviceUpdateWnd() {
    for (auto& [id, timer] : m_Timers) delete timer;
    m_Timers.clear();
}

void CDeviceUpdateWnd::OnInitDialog() {
    const CDialogUnits du(DialogFont());
    SetUpDialogFrame(this, du, 290, 110, true);
    QString caption = BrandName();
    if (!m_strTitle.isEmpty()) caption += QStringLiteral(" - ") + m_strTitle;
    setWindowTitle(caption);
    setWindowIcon(ProgramIcon());

    auto* icon = PlaceControl(new QLabel(this), 6012, du, 77, 12, 20, 20);
    icon->setPixmap(UpdateImage(32));
    m_pText = PlaceControl(new QLabel(this), 6013, du, 12, 40, 266, 32);
    m_pText->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_pText->setWordWrap(true);
    m_pText->setTextFormat(Qt::PlainText);
    // The thread's first step text is still queued when the window first
    // shows: it opens with the update's start instead of an empty line.
    m_pText->setText(LoadText(IDS_PROG_UPDATE_STARTED));
    m_pProgress = PlaceControl(new QProgressBar(this), 6014, du, 12, 55, 266, 10);
    m_pProgress->setTextVisible(false);
    m_pProgress->hide();
    // The template carries this caption in both languages.
    m_btnCancel = PlaceControl(new QPushButton(QStringLiteral("Abbrechen"), this), 6015, du, 107, 84, 75, 14);
    connect(m_btnCancel, &QPushButton::clicked, this, &CDeviceUpdateWnd::OnCancel);
    CenterDialog(this);
}

bool CDeviceUpdateWnd::IsOwnerThread() const { return QThread::currentThread() == thread(); }

LRESULT CDeviceUpdateWnd::SendMsg(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    if (!IsOwnerThread()) return 0;
    return Dispatch(msg, wParam, lParam);
}

bool CDeviceUpdateWnd::PostMsg(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    return QMetaObject::invokeMethod(
        this, [this, msg, wParam, lParam] { Dispatch(msg, wParam, lParam); }, Qt::QueuedConnection);
}

bool CDeviceUpdateWnd::SetTimer(uintptr_t id, uint32_t intervalMs, TimerCallback callback) {
    if (!callback) return false;
    return QMetaObject::invokeMethod(
        this,
        [this, id, intervalMs, callback = std::move(callback)] {
            QTimer*& timer = m_Timers[id];
            if (timer == nullptr) {
                timer = new QTimer;
                timer->setSingleShot(true);
            }
            timer->disconnect();
            QObject::connect(timer, &QTimer::timeout, this, [id, callback] { callback(id, platform::GetTickCount()); });
            timer->start(static_cast<int>(intervalMs));
        },
        Qt::QueuedConnection);
}

bool CDeviceUpdateWnd::KillTimer(uintptr_t id) {
    return QMetaObject::invokeMethod(
        this,
        [this, id] {
            auto it = m_Timers.find(id);
            if (it == m_Timers.end()) return;
            delete it->second;
            m_Timers.erase(it);
        },
        Qt::QueuedConnection);
}

LRESULT CDeviceUpdateWnd::Dispatch(uint32_t msg, WPARAM wParam, LPARAM lParam) {
    // After Cancel the window is gone; what the thread still posts is lost.
    if (m_bWindowDestroyed) return 0;
    switch (msg) {
        case WM_SET_UPDATE_MESSAGE: OnSetUpdateMessage(static_cast<uint32_t>(lParam)); break;
        case WM_SHOW_PROGRESS_BAR:
            OnShowProgressBar(static_cast<uint16_t>(wParam & 0xFFFF), static_cast<uint16_t>(lParam & 0xFFFF));
            break;
        case WM_UPDATE_PROGRESS_BAR: OnUpdateProgressBar(static_cast<uint16_t>(lParam & 0xFFFF)); break;
        case WM_HIDE_PROGRESS_BAR: OnHideProgressBar(); break;
        case WM_SHOW_CANCEL_BUTTON: OnShowCancelButton(lParam != 0); break;
        default: return 0;
    }
    if (m_Watch) m_Watch(*this, msg);
    return 0;
}

QString CDeviceUpdateWnd::StepText() const { return m_pText->text(); }

void CDeviceUpdateWnd::OnSetUpdateMessage(uint32_t stringId) { m_pText->setText(Qs(LoadStringResource(stringId))); }

void CDeviceUpdateWnd::OnShowProgressBar(uint16_t start, uint16_t end) {
    QRect rect = m_pText->geometry();
    rect.setHeight(std::max(0, rect.height() - kTextShrinkPixels));
    m_pText->setGeometry(rect);
    m_pProgress->setRange(start, end);
    m_pProgress->setValue(start);
    m_pProgress->show();
}

void CDeviceUpdateWnd::OnUpdateProgressBar(uint16_t position) { m_pProgress->setValue(position); }

void CDeviceUpdateWnd::OnHideProgressBar() {
    QRect rect = m_pText->geometry();
    rect.setHeight(rect.height() + kTextShrinkPixels);
    m_pText->setGeometry(rect);
    m_pProgress->hide();
}

void CDeviceUpdateWnd::OnShowCancelButton(bool show) { m_btnCancel->setVisible(show); }

void CDeviceUpdateWnd::OnCancel() {
    if (m_bWindowDestroyed) return;
    m_bWindowDestroyed = true;
    // Not discardable: a cancelled update keeps its log file.
    CBaseObject::LogMessage(this, "Cancel Button was clicked", nullptr, false);
    if (m_pThread != nullptr && m_Cancel) m_Cancel(m_pThread);
    hide();
}

void CDeviceUpdateWnd::reject() { OnCancel(); }

void CDeviceUpdateWnd::closeEvent(QCloseEvent* event) {
    event->ignore();
    OnCancel();
}
