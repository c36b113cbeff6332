// The running-key XOR that scrambles the update log.
//
// Before each byte the key becomes (key * kMultiplier mod 256) XOR kConstant
// and the byte is XORed with the new key. Writer and reader start from the
// same seed at the first byte of a file, so running the sequence over a file
// from its start gives the text back. The map key -> key' is a bijection
// with a full period of 256, so no short cycle shows through in the file.
#pragma once

#include <cstddef>
#include <cstdint>

class CLogScrambler {
public:
    static constexpr uint8_t kSeed = 0xA5;
    static constexpr uint8_t kMultiplier = 0x6B;
    static constexpr uint8_t kConstant = 0xB3;

    // Scrambles or unscrambles (the operation is its own inverse) in place,
    // continuing the key sequence from the previous call.
    void Apply(uint8_t* data, size_t length) {
        for (size_t i = 0; i < length; ++i) {
            m_key = static_cast<uint8_t>(static_cast<uint8_t>(m_key * kMultiplier) ^ kConstant);
            data[i] ^= m_key;
        }
    }
    void Restart() { m_key = kSeed; }

private:
    uint8_t m_key = kSeed;
};
