// CByteBuffer: the growable byte buffer in which port data, reply lines and
// reply blocks travel.
//
// While it holds memory, one zero byte always stands behind the data, so the
// contents can be read as text; the capacity is then at least length + 1.
// Memory is owned; allocation failures leave the contents unchanged and are
// reported by the return value, never by an exception.
// Thread: not synchronised; the owner's lock guards it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class CByteBuffer {
public:
    static constexpr long npos = -1;

    CByteBuffer() = default;
    CByteBuffer(const void* data, size_t length);
    explicit CByteBuffer(std::string_view text);
    CByteBuffer(const CByteBuffer& other);
    CByteBuffer(CByteBuffer&& other) noexcept;
    CByteBuffer& operator=(const CByteBuffer& other);
    CByteBuffer& operator=(CByteBuffer&& other) noexcept;
    ~CByteBuffer();

    // Replaces the contents with a copy of `other`. False if out of memory.
    bool Copy(const CByteBuffer& other);
    bool Assign(const void* data, size_t length);
    // Appends bytes. False if out of memory (contents unchanged).
    bool Append(const CByteBuffer& other);
    bool Append(const void* data, size_t length);
    bool Append(std::string_view text);

    // Makes room for `n` bytes (plus the zero byte) and returns the data
    // pointer; the length stays. nullptr if out of memory.
    uint8_t* Reserve(size_t n);
    // Sets the length: a negative n keeps the current length, an n at or
    // above the capacity is cut to capacity - 1; the zero byte is written
    // behind the new end.
    void SetLength(long n);

    size_t GetLength() const { return m_length; }
    size_t GetCapacity() const { return m_capacity; }
    bool IsEmpty() const { return m_length == 0; }
    // Frees the memory.
    void Empty();

    // Copies: the first n bytes, the last n bytes, from position n to the end.
    CByteBuffer Left(size_t n) const;
    CByteBuffer Right(size_t n) const;
    CByteBuffer Mid(size_t pos) const;
    // Removes the first n bytes (all of them if n >= length).
    void RemoveLeft(size_t n);

    // Position of the first occurrence of the whole pattern at or after
    // `start`, or npos. An empty pattern is never found.
    long Find(std::string_view pattern, size_t start = 0) const;
    long Find(const CByteBuffer& pattern, size_t start = 0) const;

    // Removes every character at that end that belongs to `set`, one after
    // the other, until a character outside the set stands there.
    void TrimLeft(std::string_view set);
    void TrimRight(std::string_view set);

    const uint8_t* GetData() const { return m_data; }
    uint8_t* GetData() { return m_data; }
    // The contents as a zero-terminated text ("" when empty).
    const char* GetText() const { return m_data ? reinterpret_cast<const char*>(m_data) : ""; }
    std::string_view View() const { return {GetText(), m_length}; }
    std::string ToString() const { return std::string(View()); }
    uint8_t operator[](size_t i) const { return m_data[i]; }

    bool operator==(const CByteBuffer& other) const { return View() == other.View(); }
    bool operator==(std::string_view text) const { return View() == text; }

private:
    bool Grow(size_t capacity);

    uint8_t* m_data = nullptr;
    size_t m_capacity = 0;
    size_t m_length = 0;
};
