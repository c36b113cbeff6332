// The system-information entry written to the update log at start.
// No toolkit here: the text is built from plain values so it can be tested.
// Thread: any.
#pragma once

#include <cstdint>
#include <string>

// English name of a primary language id (its low 10 bits), or
// "Unknown (0x%04X)" for an id the table lacks.
std::string LanguageName(uint16_t languageId);

struct StartupFacts {
    std::string operatingSystemLine;  // empty: the line is left out
    uint16_t userLanguage = 0;        // primary language id
    bool hasTimeIncrement = false;
    double timeIncrementMs = 0.0;
    std::string usbLibraryLine;  // as WriteUsbLibraryFile returns it, with its "\r\n"
};

// The entry body: operating system, user language, time increment, USB
// library and the program's firmware and file versions, each line ending
// in "\r\n".
std::string BuildStartupReport(const StartupFacts& facts);

// The facts of this machine (operating system, language, clock); the USB
// line is the caller's, since writing the library file is a step of its own.
StartupFacts GatherStartupFacts();
