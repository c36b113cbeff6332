// The Settings menu and the port kinds it switches: one table row per kind
// with its menu commands and entries, what switching it on takes, and the
// template its search starts and stops with.
#include <iterator>

#include "search/DeviceSearchDoc.h"
#include "window/UpdateWndCore.h"

namespace {

using PortKind = CUpdateWndCore::PortKind;

struct CPortKindEntry {
    PortKind kind;
    uint32_t activateId;
    uint32_t deactivateId;
    bool CPortMenuState::*activate;
    bool CPortMenuState::*deactivate;
    bool CPortMenuState::*checked;
    bool asksNotice;        // the user confirms the serial settings notice first
    bool needsUsbLibrary;   // greyed unless start-up wrote the USB library
    // Makes `port` the kind's template: a search goes by the kind alone (a
    // record ignores an empty name, so the serial one carries "COM").
    void (*makeTemplate)(CInterfaceParameter& port, uint16_t ipPort);
};

// In the order searches start.
constexpr CPortKindEntry kKinds[] = {
    {PortKind::kSerial, ID_SERIAL_ACTIVATE, ID_SERIAL_DEACTIVATE, &CPortMenuState::serialActivate,
     &CPortMenuState::serialDeactivate, &CPortMenuState::serialChecked, true, false,
     [](CInterfaceParameter& port, uint16_t) { port.SetSerialPort("COM"); }},
    {PortKind::kUsb, ID_USB_ACTIVATE, ID_USB_DEACTIVATE, &CPortMenuState::usbActivate,
     &CPortMenuState::usbDeactivate, &CPortMenuState::usbChecked, false, true,
     [](CInterfaceParameter& port, uint16_t) { port.SetUsbPort(0, ""); }},
    {PortKind::kIp, ID_IP_ACTIVATE, ID_IP_DEACTIVATE, &CPortMenuState::ipActivate, &CPortMenuState::ipDeactivate,
     &CPortMenuState::ipChecked, false, false,
     [](CInterfaceParameter& port, uint16_t ipPort) { port.SetIPPort(0, ipPort); }},
};
static_assert(std::size(kKinds) == CUpdateWndCore::kPortKinds);
static_assert([] {
    for (size_t i = 0; i < std::size(kKinds); ++i)
        if (static_cast<size_t>(kKinds[i].kind) != i) return false;
    return true;
}(), "the rows are in PortKind order");

const CPortKindEntry& EntryOf(PortKind kind) { return kKinds[static_cast<int>(kind)]; }

}  // namespace

void CUpdateWndCore::OnCommand(uint32_t id) {
    // The options entries and unknown commands have no effect.
    for (const CPortKindEntry& entry : kKinds) {
        if (id == entry.activateId) Switch(entry.kind, true);
        if (id == entry.deactivateId) Switch(entry.kind, false);
    }
}

bool CUpdateWndCore::Switch(PortKind kind, bool on) {
    const CPortKindEntry& entry = EntryOf(kind);
    if (on == IsOn(kind) || m_bClosed || m_bClosing) return false;
    if (on && entry.needsUsbLibrary && !m_bUsbLibraryCreated) return false;  // the entry is greyed
    if (on && entry.asksNotice) {
        // Unless the user confirms the notice nothing changes.
        if (!m_View.AskSerialSettingsNotice()) return false;
        if (m_bClosed || m_bClosing) return false;  // closed while the notice was open
    }
    m_bKindOn[static_cast<int>(kind)] = on;
    m_Menu.*entry.activate = !on;
    m_Menu.*entry.deactivate = on;
    m_Menu.*entry.checked = on;
    ApplyMenu();
    // Both calls look at every kind: a search runs for each kind switched on.
    if (on) {
        StartDeviceSearch();
    } else {
        StopDeviceSearch();
    }
    return true;
}

void CUpdateWndCore::StartDeviceSearch() {
    if (!m_pSearchDoc) m_pSearchDoc = std::make_unique<CDeviceSearchDoc>(&m_Window);
    CInterfaceParameter port;
    for (const CPortKindEntry& entry : kKinds) {
        if (!IsOn(entry.kind)) continue;
        entry.makeTemplate(port, m_wIpPort);
        m_pSearchDoc->StartDeviceSearch(port);
    }
}

void CUpdateWndCore::StopDeviceSearch() {
    if (!m_pSearchDoc) return;
    CInterfaceParameter port;
    bool anyOn = false;
    for (const CPortKindEntry& entry : kKinds) {
        if (IsOn(entry.kind)) {
            anyOn = true;
            continue;
        }
        entry.makeTemplate(port, m_wIpPort);
        m_pSearchDoc->StopDeviceSearch(port);
    }
    if (!anyOn) m_pSearchDoc.reset();
}

void CUpdateWndCore::ApplyMenu() { m_View.SetPortMenu(m_Menu); }
