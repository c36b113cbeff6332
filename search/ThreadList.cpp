#include "search/ThreadList.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "base/Wait.h"
#include "platform/Clock.h"
#include "platform/Event.h"
#include "platform/SysError.h"

// Counts the destruction threads that have not ended yet. Shared with every
// destruction thread, so the last one can report its end after the list is
// gone.
struct CThreadList::Destructions {
    std::mutex mutex;
    size_t pending = 0;  // guarded by mutex
    // Set while pending is 0; changed only under mutex.
    platform::Event idle{platform::Event::kManualReset, true};
    // Objects no destruction thread could be started for; guarded by mutex.
    std::vector<CObject*> deferred;

    void Begin() {
        std::lock_guard<std::mutex> lock(mutex);
        if (pending++ == 0) idle.Reset();
    }
    void End() {
        std::lock_guard<std::mutex> lock(mutex);
        if (--pending == 0) idle.Set();
    }
    size_t Pending() {
        std::lock_guard<std::mutex> lock(mutex);
        return pending;
    }
};

CThreadList::CThreadList() : m_pDestructions(std::make_shared<Destructions>()) {}

CThreadList::~CThreadList() {
    std::vector<Entry> entries;
    const bool locked = LockForDestruction(m_Lock, this);
    m_Lock.Close();
    if (locked) {
        entries.swap(m_Entries);
        m_Lock.Unlock();
    }
    // Without the lock (it failed), nobody else can be inside the list: every
    // other operation fails on the closed lock.
    if (!locked) entries.swap(m_Entries);
    for (Entry& entry : entries) StartDestruction(entry.thread);
    // Without limit: a worker that is still running may call back into the
    // document that owns this list, which must outlive it. Each worker's
    // destructor stops its thread, and sent messages are handled meanwhile.
    WaitForDestructions(platform::kInfinite);
    std::vector<CObject*> deferred;
    {
        std::lock_guard<std::mutex> lock(m_pDestructions->mutex);
        deferred.swap(m_pDestructions->deferred);
    }
    for (CObject* object : deferred) Execute(object);
}

int CThreadList::Add(CObject* thread, const CInterfaceParameter* port) {
    if (thread == nullptr) return -1;
    std::unique_ptr<CInterfaceParameter> copy;
    if (port != nullptr) {
        // Copied before the lock: a record's lock is taken alone.
        copy.reset(new (std::nothrow) CInterfaceParameter(*port));
        if (copy == nullptr) return -1;
    }
    const uint8_t kind = copy ? copy->GetKind() : uint8_t(CInterfaceParameter::kNone);
    CObjectLockGuard guard(m_Lock);
    if (!guard) return -1;
    for (size_t i = 0; i < m_Entries.size(); ++i) {
        if (m_Entries[i].thread == thread) {
            m_Entries[i].key = port;
            m_Entries[i].kind = kind;
            m_Entries[i].port = std::move(copy);
            return static_cast<int>(i);
        }
    }
    try {
        m_Entries.push_back(Entry{thread, port, kind, std::move(copy)});
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return static_cast<int>(m_Entries.size() - 1);
}

void CThreadList::RemoveThread(CObject* thread) {
    if (thread == nullptr) return;
    CObjectLockGuard guard(m_Lock);
    if (!guard) return;
    auto it = std::find_if(m_Entries.begin(), m_Entries.end(),
                           [&](const Entry& e) { return e.thread == thread; });
    if (it == m_Entries.end()) return;
    StartDestruction(it->thread);
    m_Entries.erase(it);
    m_Entries.shrink_to_fit();
}

size_t CThreadList::RemovePorts(const CInterfaceParameter& portTemplate) {
    const uint8_t kind = portTemplate.GetKind();
    CObjectLockGuard guard(m_Lock);
    if (!guard) return 0;
    size_t removed = 0;
    for (auto it = m_Entries.begin(); it != m_Entries.end();) {
        if (it->kind == kind) {
            StartDestruction(it->thread);
            it = m_Entries.erase(it);  // look at the entry that moved up
            ++removed;
        } else {
            ++it;
        }
    }
    m_Entries.shrink_to_fit();
    return removed;
}

size_t CThreadList::RemoveAll() {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return 0;
    const size_t removed = m_Entries.size();
    for (Entry& entry : m_Entries) StartDestruction(entry.thread);
    m_Entries.clear();
    m_Entries.shrink_to_fit();
    return removed;
}

CObject* CThreadList::FindPort(const CInterfaceParameter& port) {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return nullptr;
    for (const Entry& entry : m_Entries) {
        if (entry.port && entry.port->IsEqual(port)) return entry.thread;
    }
    return nullptr;
}

int CThreadList::GetCount() {
    CObjectLockGuard guard(m_Lock);
    if (!guard) return 0;
    return static_cast<int>(m_Entries.size());
}

bool CThreadList::WaitForDestructions(uint32_t timeoutMs) {
    const uint32_t start = platform::GetTickCount();
    for (;;) {
        if (m_pDestructions->Pending() == 0) return true;
        uint32_t left = platform::kInfinite;
        if (timeoutMs != platform::kInfinite) {
            const uint32_t spent = platform::GetTickCount() - start;
            if (spent >= timeoutMs) return false;
            left = timeoutMs - spent;
        }
        // Wakes when the last destruction ends; sent messages are handled
        // meanwhile on a message-window thread. The count is checked again
        // because a new destruction may have begun since.
        if (WaitPumpingSends(m_pDestructions->idle, left) == platform::kWaitFailed) return false;
    }
}

size_t CThreadList::PendingDestructions() const { return m_pDestructions->Pending(); }

uint32_t CThreadList::Execute(CObject* object) {
    delete object;
    return 0;
}

void CThreadList::StartDestruction(CObject* object) {
    if (object == nullptr) return;
    std::shared_ptr<Destructions> destructions = m_pDestructions;
    destructions->Begin();
    try {
        // Nobody needs the thread's handle: it is detached at once, and the
        // shared counter tells the list when it is over.
        std::thread([object, destructions] {
            Execute(object);
            destructions->End();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had. The caller may be the worker itself, which
        // cannot destroy itself: keep it for the list's destructor, which
        // never runs on a worker's thread.
        LogError(this, ERROR_NOT_ENOUGH_MEMORY, "StartDestruction");
        destructions->End();
        std::lock_guard<std::mutex> lock(destructions->mutex);
        destructions->deferred.push_back(object);
    }
}
