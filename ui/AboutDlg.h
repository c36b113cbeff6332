// CAboutDlg: the program's name and version.
// Thread: the GUI thread.
#pragma once

#include <QDialog>
#include <QString>

class CAboutDlg : public QDialog {
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    QString m_strVersion;

private:
    void OnInitDialog();
};
