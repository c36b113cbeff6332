// The program's texts on Windows: the string tables of the program's own
// resources (written from resources/strings/StringTable.cpp by
// korva-stringrc), read with FindResource and handed out as UTF-8.
#include "resources/strings/StringTable.h"

#include <windows.h>

#include <map>
#include <mutex>
#include <string>

namespace resources {
namespace {

// A string table block holds 16 numbers: each a 16-bit length and that many
// UTF-16 units, a missing string having length 0.
bool ReadStringResource(uint32_t id, std::wstring& out) {
    if (id > 0xFFFF) return false;
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC block = ::FindResourceW(module, MAKEINTRESOURCEW((id >> 4) + 1), MAKEINTRESOURCEW(6));  // RT_STRING
    if (block == nullptr) return false;
    HGLOBAL loaded = ::LoadResource(module, block);
    const auto* p = static_cast<const WCHAR*>(loaded ? ::LockResource(loaded) : nullptr);
    if (p == nullptr) return false;
    const WCHAR* end = p + ::SizeofResource(module, block) / sizeof(WCHAR);
    for (uint32_t i = 0; i < (id & 15); ++i) {
        if (p >= end) return false;
        p += 1 + *p;
    }
    if (p >= end || *p == 0 || p + 1 + *p > end) return false;
    out.assign(p + 1, *p);
    return true;
}

std::string ToUtf8(const std::wstring& text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                              nullptr);
    }
    return out;
}

}  // namespace

const char* FindStringInTable(uint32_t id) {
    // Callers keep the pointer for the life of the program: each text is
    // converted once and never moved or freed (map nodes stay put).
    static std::mutex lock;
    static std::map<uint32_t, std::string> converted;
    std::lock_guard<std::mutex> guard(lock);
    if (auto it = converted.find(id); it != converted.end()) return it->second.c_str();
    std::wstring text;
    if (!ReadStringResource(id, text)) return nullptr;
    return converted.emplace(id, ToUtf8(text)).first->second.c_str();
}

}  // namespace resources
