// Feeds arbitrary reply bytes, cut into arbitrary reads, to the line
// protocol in SCPI or in monitor mode and checks what must hold whatever a
// port delivers: lines are never empty and never longer than what came in,
// nothing outgrows the receive limit, and how the bytes were split across
// reads does not change the lines they make.
//
// Input: byte 0 picks the mode (bit 0: monitor) and bytes 1..8 give the
// read sizes; the rest is the data.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "protocol/UpdateInterface.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

// The protocol with a port that swallows every write and an owner that
// keeps the lines. No main window exists, so no timer ever runs: only the
// line assembly is exercised.
class LineCollector : public CObject {
public:
    KORVA_RUNTIME_CLASS(LineCollector)
    static void OnEvent(uint32_t event, uintptr_t, const CByteBuffer* text, CObject* context) {
        auto* self = CObject::DownCast<LineCollector>(context);
        if (self == nullptr) return;
        if (event == IF_EVENT_LINE_RECEIVED) self->lines.push_back(text ? text->ToString() : std::string());
        if (event == IF_EVENT_RECEIVE_TIMEOUT) ++self->timeouts;
    }
    std::vector<std::string> lines;
    int timeouts = 0;
};

class SilentPortInterface : public CUpdateInterface {
public:
    KORVA_RUNTIME_CLASS(SilentPortInterface)
    explicit SilentPortInterface(LineCollector* owner) : CUpdateInterface(&LineCollector::OnEvent, owner) {}
    ~SilentPortInterface() override { CloseProtocol(); }
    uint32_t SendData(const CByteBuffer&) override { return 0; }
    uint32_t Init(CInterfaceParameter*) override { return 0; }
    platform::Thread* StartPortEnumeration(CInterfaceParameter*) override { return nullptr; }
    using CUpdateInterface::EnumMonitorLines;
    using CUpdateInterface::EnumSCPILines;
    using CUpdateInterface::TrimLine;
};

struct Run {
    std::vector<std::string> lines;
    int timeouts = 0;
};

Run Feed(bool monitor, const uint8_t* data, size_t size, const std::vector<size_t>& reads) {
    LineCollector owner;
    Run run;
    {
        SilentPortInterface port(&owner);
        // Puts the protocol into the mode whose rules cut the replies.
        Require(monitor ? port.SendMonitorMsg("v") == 0 : port.SendSCPIMsg("*IDN?;") == 0);
        size_t pos = 0;
        for (size_t i = 0; pos < size; ++i) {
            size_t n = reads.empty() ? size : reads[i % reads.size()];
            if (n == 0 || n > size - pos) n = size - pos;
            CByteBuffer chunk(data + pos, n);
            CUpdateInterface::OnDataReceived(chunk, &port);
            pos += n;
            Require(port.GetReceiveBufferLength() <= CUpdateInterface::kMaxReceiveBuffer);
        }
    }
    run.lines = owner.lines;
    run.timeouts = owner.timeouts;
    return run;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool monitor = data[0] & 1;
    std::vector<size_t> reads;
    size_t header = 1;
    for (; header < 9 && header < size; ++header) reads.push_back(data[header] % 97);
    const uint8_t* bytes = data + header;
    const size_t length = size - header;

    const Run whole = Feed(monitor, bytes, length, {});
    const Run pieces = Feed(monitor, bytes, length, reads);

    size_t total = 0;
    for (const std::string& line : pieces.lines) {
        Require(!line.empty());
        total += line.size();
    }
    Require(total <= length);
    // Below the receive limit nothing is ever discarded, so the lines depend
    // only on the bytes, not on how the reads cut them.
    if (length <= CUpdateInterface::kMaxReceiveBuffer) {
        Require(whole.lines == pieces.lines);
        Require(whole.timeouts == 0 && pieces.timeouts == 0);
    }

    // The cutting rules alone: a line is a front part of what was buffered,
    // and trimming only ever shortens it.
    const CByteBuffer buffer(bytes, length);
    bool isBlock = false;
    const CByteBuffer scpi = SilentPortInterface::EnumSCPILines(buffer, &isBlock);
    Require(scpi.GetLength() <= length && buffer.Left(scpi.GetLength()) == scpi);
    Require(!isBlock || !scpi.IsEmpty());
    const CByteBuffer mon = SilentPortInterface::EnumMonitorLines(buffer);
    Require(mon.GetLength() <= length && buffer.Left(mon.GetLength()) == mon);
    Require(SilentPortInterface::TrimLine(scpi, true).GetLength() <= scpi.GetLength());
    Require(SilentPortInterface::TrimLine(mon, false).GetLength() <= mon.GetLength());
    return 0;
}
