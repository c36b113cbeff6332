// The owner of a port interface (the line protocol, serial or USB): records
// the events it receives. Thread: any; events arrive on the reading, I/O and
// main threads.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "base/MessageWindow.h"
#include "protocol/InterfaceEvents.h"

class InterfaceRecorder : public CObject {
public:
    KORVA_RUNTIME_CLASS(InterfaceRecorder)
    struct Event {
        uint32_t event;
        uintptr_t data;
        std::string text;
    };
    static void OnEvent(uint32_t event, uintptr_t data, const CByteBuffer* text, CObject* context) {
        auto* self = CObject::DownCast<InterfaceRecorder>(context);
        if (self == nullptr) return;
        {
            std::lock_guard<std::mutex> lock(self->m_mutex);
            if (event == IF_EVENT_PORT_FOUND) self->TakePort(data);
            self->m_events.push_back({event, data, text ? text->ToString() : std::string()});
        }
        // Wake the test's pump to look.
        if (IMessageWindow* main = CMessageWindow::Main()) main->PostMsg(0);
    }
    std::vector<Event> Events() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    std::vector<Event> Of(uint32_t event) const {
        std::vector<Event> out;
        for (const Event& e : Events())
            if (e.event == event) out.push_back(e);
        return out;
    }
    size_t Count(uint32_t event) const { return Of(event).size(); }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        for (const Event& e : Of(IF_EVENT_LINE_RECEIVED)) lines.push_back(e.text);
        return lines;
    }

protected:
    // A listing hands over its port records (under the recorder's lock).
    virtual void TakePort(uintptr_t) {}

private:
    mutable std::mutex m_mutex;
    std::vector<Event> m_events;  // guarded by m_mutex
};
