// CThreadList: the running worker objects (search threads, update threads)
// of one document, each with the port it works on.
//
// The list owns its worker objects: any CObject with a virtual destructor
// that stops its own thread. A worker reports its result on its own thread,
// and its destructor waits for that thread to end, so a worker can never be
// destroyed by the code that handles its report. RemoveThread and
// RemovePorts therefore destroy the object on a short thread of their own
// and return at once; no caller may delete a listed object directly.
//
// Each entry keeps a copy of the port record it was added with. A worker may
// release its own port record (a failed search does) before it is removed
// from the list; RemovePorts and FindPort look only at the copy.
//
// Lifetime: the destructor hands every remaining entry to a destruction
// thread and then waits until every destruction the list has started is
// over. After it returns no worker of this list runs any more, so nothing
// can call back into the document that owned the list. On a thread that
// owns a message window (the main thread) that wait keeps handling sent
// messages: a worker that is blocked in a send to the main window while it
// is being destroyed gets its answer (see docs/design-notes.md).
//
// Threads: Add, RemoveThread, RemovePorts, FindPort, GetCount from any
// thread (workers call RemoveThread from their report). The destructor and
// WaitForDestructions on the owner's thread. Destruction threads run
// Execute.
// Locks: m_Lock guards m_Entries. It is never held while a worker is
// destroyed or while waiting. Lock order: the owning document's lock, then
// m_Lock. The destruction counter lives in shared state of its own
// (std::mutex), so a destruction thread that ends after the list is gone
// touches nothing freed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/BaseObject.h"
#include "base/ObjectLock.h"
#include "transport/InterfaceParameter.h"

class CThreadList : public CBaseObject {
public:
    KORVA_RUNTIME_CLASS(CThreadList)

    CThreadList();
    // Takes and closes the lock, has every remaining entry destroyed on a
    // thread of its own and waits until all destructions are over.
    ~CThreadList() override;

    // Lists `thread` (ownership passes to the list) for `port` (only read
    // here: kind and identity are copied into the entry; may be null).
    // An entry that already holds `thread` takes the new port instead.
    // Returns the entry's index, or -1 for a null thread or when the list is
    // being destroyed; on -1 the caller keeps the object and must destroy it
    // without holding a lock that the object's thread may wait for.
    int Add(CObject* thread, const CInterfaceParameter* port);
    // Removes the entry of `thread` and destroys the object on a destruction
    // thread. An unlisted or null thread does nothing. Safe to call from the
    // worker's own thread (that is how a worker leaves after its report).
    void RemoveThread(CObject* thread);
    // Removes and destroys (as RemoveThread) every entry whose port is of
    // `portTemplate`'s kind (serial, USB or IP). Returns how many.
    size_t RemovePorts(const CInterfaceParameter& portTemplate);
    // Removes and destroys every entry. Returns how many.
    size_t RemoveAll();

    // The listed worker for a port equal to `port` (CInterfaceParameter::
    // IsEqual), or null. The pointer is only an identity: the object may be
    // removed and destroyed at any moment by its own report.
    CObject* FindPort(const CInterfaceParameter& port);
    int GetCount();

    // Waits until every destruction started so far has ended (`timeoutMs`,
    // platform::kInfinite for no limit), handling sent messages meanwhile on
    // a message-window thread. True when none is left. Never call it from a
    // listed worker's own thread.
    bool WaitForDestructions(uint32_t timeoutMs);
    // Destructions started and not yet over (for tests and diagnostics).
    size_t PendingDestructions() const;

    // Destruction thread procedure: destroys `object` (virtual destructor).
    static uint32_t Execute(CObject* object);

private:
    struct Entry {
        CObject* thread = nullptr;                 // owned
        const CInterfaceParameter* key = nullptr;  // identity only, never read
        uint8_t kind = CInterfaceParameter::kNone;
        std::unique_ptr<CInterfaceParameter> port;  // copy of the record at Add
    };
    struct Destructions;

    // Starts a detached thread that destroys `object`. m_Lock may be held:
    // starting a thread does not wait for anything the worker does.
    void StartDestruction(CObject* object);

    CObjectLock m_Lock;
    std::vector<Entry> m_Entries;  // guarded by m_Lock
    std::shared_ptr<Destructions> m_pDestructions;
};
