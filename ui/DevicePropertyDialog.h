// CDevicePropertyDialog: the identification of one listed device (name,
// serial number, hardware id, software version and the ten board ids).
//
// The list rows are sorted by name while the device list keeps its own
// order, so the dialog is given the clicked row's port and looks its entry
// up; a row number could name another device.
//
// Thread: the GUI thread. Reads the device list under the list's own lock
// once, while it is built; it does not refresh while open.
#pragma once

#include <QDialog>
#include <QString>

#include "base/BaseObject.h"

class CDeviceList;
class CInterfaceParameter;
class QPushButton;

class CDevicePropertyDialog : public QDialog, public CBaseObject {
public:
    KORVA_RUNTIME_CLASS(CDevicePropertyDialog)

    // `list` and `port` are not owned; the port only serves to find the entry.
    CDevicePropertyDialog(CDeviceList* list, const CInterfaceParameter* port, QWidget* parent = nullptr);

    // The entry shown, -1 when the port is no longer listed (defaults shown).
    int Row() const { return m_nRow; }

private:
    void OnInitDialog(const CInterfaceParameter* port);

    CDeviceList* m_pDeviceList;
    int m_nRow = -1;
    QPushButton* m_btnCancel = nullptr;
};
