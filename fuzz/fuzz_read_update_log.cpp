// Feeds arbitrary text, scrambled as the program writes its log, to the
// log reader and checks that what it returns is the front of that text,
// that a clean result is the whole text, and that the part it returns
// from a damaged file reads back clean on its own.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/LogScrambler.h"
#include "tools/logread/LogReader.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

std::vector<uint8_t> Scramble(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    CLogScrambler scrambler;
    scrambler.Apply(bytes.data(), bytes.size());
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The fuzzer writes plain text; the reader gets it scrambled, so the
    // fuzzer can reach the entry rules instead of guessing the key stream.
    const std::vector<uint8_t> file = Scramble(data, size);
    const LogReadResult read = ReadUpdateLog(file.data(), file.size());
    const std::string_view plain(reinterpret_cast<const char*>(data), size);

    Require(read.text.size() <= size);
    Require(plain.substr(0, read.text.size()) == read.text);
    if (read.clean) {
        Require(read.text.size() == size);
        Require(read.entries >= 1);
        Require(read.problem.empty());
        Require(size >= 2 && plain.substr(size - 2) == "\r\n");
    } else {
        Require(!read.problem.empty());
        Require(read.damagedAt <= size);
        Require(read.damagedAt >= read.text.size());
    }

    // The good part is a log of its own with the same entries.
    if (!read.text.empty()) {
        const std::vector<uint8_t> again =
            Scramble(reinterpret_cast<const uint8_t*>(read.text.data()), read.text.size());
        const LogReadResult reread = ReadUpdateLog(again.data(), again.size());
        Require(reread.clean);
        Require(reread.text == read.text);
        Require(reread.entries == read.entries);
    }

    // The first raw byte must not be taken for anything but scrambled text:
    // reading the plain bytes as if scrambled never crashes either.
    (void)ReadUpdateLog(data, size);
    return 0;
}
