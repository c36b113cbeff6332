#include "ui/LogFileDirectoryWnd.h"

#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

#include "base/StringIds.h"
#include "base/UpdateLogFile.h"
#include "platform/SysError.h"
#include "ui/DialogTemplate.h"

CUpdateLogFileDirectoryWnd::CUpdateLogFileDirectoryWnd(QWidget* parent, DirectoryOpener opener)
    : QDialog(parent), m_Opener(std::move(opener)) {
    if (!m_Opener) {
        m_Opener = [](const QString& directory) {
            return QDesktopServices::openUrl(QUrl::fromLocalFile(directory));
        };
    }
    OnInitDialog();
}

QString CUpdateLogFileDirectoryWnd::DirectoryOf(const QString& path, const QString& name) {
    if (name.isEmpty()) return path;
    const int at = path.indexOf(name);
    if (at < 0) return path;
    // Up to, but without, the separator before the name.
    return at > 0 ? path.left(at - 1) : QString();
}

void CUpdateLogFileDirectoryWnd::OnInitDialog() {
    QString path, name;
    if (CUpdateLogFile* log = CUpdateLogFile::Current()) {
        path = Qs(log->GetFilePath());
        name = Qs(log->GetFileName());
    }
    const CDialogUnits du(DialogFont());
    SetUpDialogFrame(this, du, 300, 90, false);
    setWindowTitle(BrandName() + QStringLiteral(" - ") + LoadText(IDS_TITLE_LOG_DIRECTORY));

    m_strPathLabel = LoadText(IDS_LABEL_PATH);
    m_strPath = DirectoryOf(path, name);
    m_strFileLabel = LoadText(IDS_LABEL_FILE);
    m_strFile = name;

    PlaceControl(new QLabel(m_strPathLabel, this), 6021, du, 12, 14, 25, 8);
    auto* pathEdit = PlaceControl(new QLineEdit(m_strPath, this), 6041, du, 40, 12, 248, 12);
    PlaceControl(new QLabel(m_strFileLabel, this), 6022, du, 12, 32, 25, 8);
    auto* fileEdit = PlaceControl(new QLineEdit(m_strFile, this), 6042, du, 40, 30, 248, 12);
    for (QLineEdit* edit : {pathEdit, fileEdit}) {
        edit->setReadOnly(true);
        edit->setCursorPosition(0);
    }
    m_btnOpenDirectory =
        PlaceControl(new QPushButton(LoadText(IDS_BTN_OPEN_DIRECTORY), this), 6043, du, 47, 65, 80, 14);
    m_btnCancel = PlaceControl(new QPushButton(LoadText(IDS_BTN_CANCEL), this), 2, du, 175, 65, 80, 14);
    m_btnOpenDirectory->setAutoDefault(false);
    m_btnCancel->setDefault(true);
    connect(m_btnOpenDirectory, &QPushButton::clicked, this, &CUpdateLogFileDirectoryWnd::OnOpenDirectory);
    connect(m_btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    CenterDialog(this);
}

void CUpdateLogFileDirectoryWnd::OnOpenDirectory() {
    // No message to the user: the path is in front of them to open by hand.
    if (!m_Opener(m_strPath)) LogError(this, ERROR_FILE_NOT_FOUND, nullptr);
}
