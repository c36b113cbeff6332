#include "tests/ui/support/UiTestSupport.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPoint>
#include <QProcess>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <gtest/gtest.h>

#include "tests/base/support/LogCapture.h"
#include "base/Strings.h"
#include "platform/PortAlias.h"
#include "platform/PortListing.h"

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return done();
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void AnswerNextModal(int buttonId, QString* seen) {
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, buttonId, seen] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) return;
        auto* button = modal->findChild<QAbstractButton*>(QStringLiteral("ctl%1").arg(buttonId));
        if (button == nullptr || !button->isVisible()) return;
        if (seen != nullptr) *seen = modal->windowTitle();
        poll->stop();
        poll->deleteLater();
        button->click();
    });
    poll->start();
}

bool OnDesktop() { return QGuiApplication::platformName() == QLatin1String("xcb"); }

bool DesktopClick(const QPoint& global, int button) {
    return QProcess::execute(QStringLiteral("xdotool"),
                             {QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(global.x()),
                              QString::number(global.y()), QStringLiteral("click"), QString::number(button)}) == 0;
}

std::vector<unsigned long> DesktopStacking() {
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST_STACKING")});
    std::vector<unsigned long> windows;
    if (!xprop.waitForFinished(5000)) return windows;
    // "_NET_CLIENT_LIST_STACKING(WINDOW): window id # 0x400007, 0x600003"
    const QString text = QString::fromLocal8Bit(xprop.readAllStandardOutput());
    const qsizetype hash = text.indexOf(QLatin1Char('#'));
    if (hash < 0) return windows;
    for (const QString& id : text.mid(hash + 1).split(QLatin1Char(','), Qt::SkipEmptyParts))
        windows.push_back(id.trimmed().toULong(nullptr, 16));
    return windows;
}

UiTestEnvironment::UiTestEnvironment() {
    ::mkdir(m_Dir.Join("run").c_str(), 0700);
    m_Env.Set("XDG_RUNTIME_DIR", m_Dir.Join("run").c_str());
    // Shadow every device the naming convention would list: an alias to a
    // non-terminal is dropped from the listing and never opened.
    if (DIR* dir = ::opendir("/sys/class/tty")) {
        while (dirent* entry = ::readdir(dir)) {
            const std::string com = platform::ComNameForDevice(entry->d_name);
            if (!com.empty()) platform::RegisterPortAlias(com, "/dev/null");
        }
        ::closedir(dir);
    }
    ::mkdir(m_Dir.Join("tmp").c_str(), 0700);
    m_pLog = std::make_unique<CUpdateLogFile>(m_Dir.Join("tmp"));
    CUpdateLogFile::SetCurrent(m_pLog.get());
}

UiTestEnvironment::~UiTestEnvironment() {
    CUpdateLogFile::SetCurrent(nullptr);
    m_pLog.reset();
    SetLanguageOverride(0);
}

std::string UiTestEnvironment::LogText() { return ReadLogText(m_pLog->GetFilePath()); }

int main(int argc, char** argv) {
    // Windows need an application. The tests set the offscreen platform in
    // their environment; test discovery runs the program without it.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
