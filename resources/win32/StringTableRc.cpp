// korva-stringrc OUTPUT: writes the program's texts as the string tables of
// the Windows resource script, from the same rows the Linux build compiles
// in (resources/strings/StringTable.cpp). It runs on the build machine.
#include <cstdio>
#include <string>

#include "resources/strings/StringTable.h"

namespace {

constexpr uint32_t kEnglishOffset = 200;

// A resource-script string literal. The script is read as UTF-8
// (code_page 65001), so only quotes, backslashes and line ends need
// escaping; any other control character would not survive, so it fails.
bool Quote(const char* text, std::string& out) {
    out = "\"";
    for (const char* p = text; *p != '\0'; ++p) {
        switch (*p) {
            case '"': out += "\"\""; break;
            case '\\': out += "\\\\"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(*p) < 0x20) return false;
                out += *p;
        }
    }
    out += '"';
    return true;
}

bool WriteTable(std::FILE* file, const char* title, bool english) {
    size_t count = 0;
    const resources::StringTableRow* rows = resources::StringTableRows(&count);
    std::fprintf(file, "\n// %s\nSTRINGTABLE\nBEGIN\n", title);
    for (size_t i = 0; i < count; ++i) {
        const char* text = english ? rows[i].english : rows[i].german;
        if (text == nullptr) continue;
        std::string quoted;
        if (!Quote(text, quoted)) {
            std::fprintf(stderr, "korva-stringrc: string %u holds a control character\n",
                         static_cast<unsigned>(rows[i].id));
            return false;
        }
        std::fprintf(file, "  %u, %s\n", static_cast<unsigned>(rows[i].id + (english ? kEnglishOffset : 0)),
                     quoted.c_str());
    }
    std::fprintf(file, "END\n");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: korva-stringrc OUTPUT\n");
        return 2;
    }
    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(file,
                 "// The program's texts, written by korva-stringrc from "
                 "resources/strings/StringTable.cpp.\n"
                 "#pragma code_page(65001)\n"
                 "LANGUAGE 0, 0  // neutral: the number, not the resource language, picks German or English\n");
    bool ok = WriteTable(file, "German", false) &&
              WriteTable(file, "English: the German number + 200", true);
    ok = std::ferror(file) == 0 && ok;
    if (std::fclose(file) != 0 || !ok) {
        std::fprintf(stderr, "korva-stringrc: %s not written\n", argv[1]);
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
