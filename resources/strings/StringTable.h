// The program's texts as data: one row per German string number with its
// English twin, which is stored under that number + 200.
// Thread: any (read-only data).
#pragma once

#include <cstddef>
#include <cstdint>

namespace resources {

struct StringTableRow {
    uint32_t id;          // German string number
    const char* german;   // UTF-8
    const char* english;  // UTF-8; nullptr for the brand names, which have no twin
};

// All rows, in ascending id order.
const StringTableRow* StringTableRows(size_t* count);

// The text stored under exactly `id` (a German number or an English twin's
// number), or nullptr when there is none.
const char* FindStringInTable(uint32_t id);

}  // namespace resources
