// korva-logread: prints an update log as text.
//
//   korva-logread [--raw] [FILE]     (no FILE or "-": standard input)
//
// Exit codes: 0 the whole file was read, 1 the file is damaged or not an
// update log (the readable entries before the damage are printed, the
// problem goes to standard error), 2 usage, file or output errors.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "tools/logread/LogReader.h"

namespace {

int Usage(FILE* out, int code) {
    std::fprintf(out,
                 "usage: korva-logread [--raw] [FILE]\n"
                 "Unscrambles a KORVA Instrument Upgrader update log (upd_*.log) and prints it.\n"
                 "Without FILE, or with \"-\", the log is read from standard input.\n"
                 "  --raw   keep the CR LF line ends of the file\n"
                 "Exit status: 0 read completely, 1 damaged or not an update log, 2 usage or I/O "
                 "error.\n");
    return code;
}

enum class Read { kAll, kError, kNoLog, kTooLong };

// Reads the whole input, but stops as soon as it cannot be an update log and
// at the largest size one can have: the input may be endless.
Read ReadLog(FILE* in, std::vector<uint8_t>& out) {
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
        if (out.size() + n > kMaxUpdateLogBytes) return Read::kTooLong;
        out.insert(out.end(), chunk, chunk + n);
        if (!MayBeUpdateLog(out.data(), out.size())) return Read::kNoLog;
    }
    return std::ferror(in) ? Read::kError : Read::kAll;
}

// Output that could not be written all (a full disk, a closed pipe) is an
// I/O error, never a success.
int Finish(int code) {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return code;
    std::fprintf(stderr, "korva-logread: the output could not be written: %s\n", std::strerror(errno));
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // The log is binary and --raw keeps its CR LF: the C runtime's text mode
    // would end input at a 0x1A byte and double every CR on output.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    bool raw = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--raw") == 0) {
            raw = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            return Finish(Usage(stdout, 0));
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            std::fprintf(stderr, "korva-logread: unknown option %s\n", argv[i]);
            return Usage(stderr, 2);
        } else if (path == nullptr) {
            path = argv[i];
        } else {
            return Usage(stderr, 2);
        }
    }
    const bool fromStdin = path == nullptr || std::strcmp(path, "-") == 0;
    const char* name = fromStdin ? "standard input" : path;
    FILE* in = fromStdin ? stdin : std::fopen(path, "rb");
    if (in == nullptr) {
        std::fprintf(stderr, "korva-logread: %s: %s\n", name, std::strerror(errno));
        return 2;
    }
    std::vector<uint8_t> data;
    const Read read = ReadLog(in, data);
    if (!fromStdin) std::fclose(in);
    if (read == Read::kError) {
        std::fprintf(stderr, "korva-logread: %s: read error\n", name);
        return 2;
    }
    if (read == Read::kNoLog) {
        std::fprintf(stderr, "korva-logread: %s: not an update log\n", name);
        return 1;
    }
    if (read == Read::kTooLong) {
        std::fprintf(stderr, "korva-logread: %s: not an update log: longer than %zu bytes\n", name,
                     kMaxUpdateLogBytes);
        return 1;
    }
    const LogReadResult result = ReadUpdateLog(data.data(), data.size());
    std::string text = result.text;
    if (!raw) {
        std::string lf;
        lf.reserve(text.size());
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
            lf += text[i];
        }
        text.swap(lf);
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (Finish(0) != 0) return 2;
    if (!result.clean) {
        std::fprintf(stderr,
                     "korva-logread: %s: not a readable update log: %s (at byte %zu); %zu "
                     "entr%s shown before it\n",
                     name, result.problem.c_str(), result.damagedAt, result.entries,
                     result.entries == 1 ? "y" : "ies");
        return 1;
    }
    return 0;
}
