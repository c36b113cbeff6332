// CUpdateLogFileDirectoryWnd: where the current update log lies, with a
// button that opens its folder in the desktop's file browser so the file
// can be sent to service.
//
// Thread: the GUI thread. Reads the log's path without its lock (the path
// does not change while the log is open).
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

#include "base/BaseObject.h"

class QPushButton;

class CUpdateLogFileDirectoryWnd : public QDialog, public CBaseObject {
public:
    KORVA_RUNTIME_CLASS(CUpdateLogFileDirectoryWnd)

    // Opens a folder in the file browser; false when it could not be started.
    using DirectoryOpener = std::function<bool(const QString& directory)>;

    // `opener` empty: the desktop's usual way (QDesktopServices).
    explicit CUpdateLogFileDirectoryWnd(QWidget* parent = nullptr, DirectoryOpener opener = {});

    // The folder part of `path` when `name` occurs in it, else `path` as is.
    static QString DirectoryOf(const QString& path, const QString& name);

    QString m_strPathLabel, m_strPath, m_strFileLabel, m_strFile;

    // Command 6043.
    void OnOpenDirectory();

private:
    void OnInitDialog();

    DirectoryOpener m_Opener;
    QPushButton* m_btnOpenDirectory = nullptr;
    QPushButton* m_btnCancel = nullptr;
};
