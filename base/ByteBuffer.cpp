#include "base/ByteBuffer.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

// Positions are reported as long, so no buffer may hold more bytes than a
// long can count; this also keeps every size sum below SIZE_MAX.
constexpr size_t kMaxCapacity = static_cast<size_t>(LONG_MAX);

// Room for `length` bytes plus the zero byte, or 0 when that is too much.
size_t CapacityFor(size_t length) {
    return length < kMaxCapacity ? length + 1 : 0;
}

}  // namespace

CByteBuffer::CByteBuffer(const void* data, size_t length) {
    Assign(data, length);
}

CByteBuffer::CByteBuffer(std::string_view text) {
    Assign(text.data(), text.size());
}

CByteBuffer::CByteBuffer(const CByteBuffer& other) {
    Assign(other.m_data, other.m_length);
}

CByteBuffer::CByteBuffer(CByteBuffer&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)),
      m_capacity(std::exchange(other.m_capacity, 0)),
      m_length(std::exchange(other.m_length, 0)) {}

CByteBuffer& CByteBuffer::operator=(const CByteBuffer& other) {
    Copy(other);
    return *this;
}

CByteBuffer& CByteBuffer::operator=(CByteBuffer&& other) noexcept {
    if (this != &other) {
        std::free(m_data);
        m_data = std::exchange(other.m_data, nullptr);
        m_capacity = std::exchange(other.m_capacity, 0);
        m_length = std::exchange(other.m_length, 0);
    }
    return *this;
}

CByteBuffer::~CByteBuffer() {
    std::free(m_data);
}

bool CByteBuffer::Grow(size_t capacity) {
    if (capacity <= m_capacity) return true;
    if (capacity > kMaxCapacity) return false;
    void* memory = std::realloc(m_data, capacity);
    if (memory == nullptr) return false;
    m_data = static_cast<uint8_t*>(memory);
    m_capacity = capacity;
    m_data[m_length] = 0;  // a fresh block has no terminator yet
    return true;
}

bool CByteBuffer::Copy(const CByteBuffer& other) {
    if (this == &other) return true;
    return Assign(other.m_data, other.m_length);
}

bool CByteBuffer::Assign(const void* data, size_t length) {
    if (length == 0) {
        SetLength(0);
        return true;
    }
    if (data == nullptr) return false;
    const size_t capacity = CapacityFor(length);
    // A source inside this buffer is never moved: it is shorter than the
    // current contents, so the memory already suffices.
    if (capacity == 0 || !Grow(capacity)) return false;
    std::memmove(m_data, data, length);
    m_length = length;
    m_data[m_length] = 0;
    return true;
}

bool CByteBuffer::Append(const CByteBuffer& other) {
    return Append(other.m_data, other.m_length);
}

bool CByteBuffer::Append(std::string_view text) {
    return Append(text.data(), text.size());
}

bool CByteBuffer::Append(const void* data, size_t length) {
    if (length == 0) return true;
    if (data == nullptr) return false;
    if (length >= kMaxCapacity - m_length) return false;
    const size_t needed = m_length + length + 1;

    // Appending part of ourselves: remember the offset, realloc may move us.
    const auto* source = static_cast<const uint8_t*>(data);
    const auto sourceAddress = reinterpret_cast<uintptr_t>(source);
    const auto blockAddress = reinterpret_cast<uintptr_t>(m_data);
    const bool inside = m_data != nullptr && sourceAddress >= blockAddress &&
                        sourceAddress < blockAddress + m_capacity;
    const size_t sourceOffset = inside ? sourceAddress - blockAddress : 0;

    if (needed > m_capacity) {
        // Grow by half again so that a stream of small appends stays linear;
        // fall back to the exact need when the larger block is not available.
        size_t preferred = m_capacity + m_capacity / 2;
        if (preferred < needed || preferred > kMaxCapacity) preferred = needed;
        if (!Grow(preferred) && !Grow(needed)) return false;
    }
    if (inside) source = m_data + sourceOffset;
    std::memmove(m_data + m_length, source, length);
    m_length += length;
    m_data[m_length] = 0;
    return true;
}

uint8_t* CByteBuffer::Reserve(size_t n) {
    const size_t capacity = CapacityFor(n);
    if (capacity == 0 || !Grow(capacity)) return nullptr;
    return m_data;
}

void CByteBuffer::SetLength(long n) {
    if (m_data == nullptr) return;
    if (n >= 0) {
        const auto wanted = static_cast<size_t>(n);
        m_length = wanted < m_capacity ? wanted : m_capacity - 1;
    }
    m_data[m_length] = 0;
}

void CByteBuffer::Empty() {
    std::free(m_data);
    m_data = nullptr;
    m_capacity = 0;
    m_length = 0;
}

CByteBuffer CByteBuffer::Left(size_t n) const {
    return CByteBuffer(m_data, n < m_length ? n : m_length);
}

CByteBuffer CByteBuffer::Right(size_t n) const {
    const size_t count = n < m_length ? n : m_length;
    return CByteBuffer(m_data + (m_length - count), count);
}

CByteBuffer CByteBuffer::Mid(size_t pos) const {
    if (pos >= m_length) return CByteBuffer();
    return CByteBuffer(m_data + pos, m_length - pos);
}

void CByteBuffer::RemoveLeft(size_t n) {
    if (m_data == nullptr) return;
    if (n >= m_length) {
        m_length = 0;
    } else if (n > 0) {
        std::memmove(m_data, m_data + n, m_length - n);
        m_length -= n;
    }
    m_data[m_length] = 0;
}

long CByteBuffer::Find(std::string_view pattern, size_t start) const {
    if (pattern.empty() || start > m_length) return npos;
    const size_t pos = View().find(pattern, start);
    return pos == std::string_view::npos ? npos : static_cast<long>(pos);
}

long CByteBuffer::Find(const CByteBuffer& pattern, size_t start) const {
    return Find(pattern.View(), start);
}

void CByteBuffer::TrimLeft(std::string_view set) {
    size_t count = 0;
    while (count < m_length && set.find(static_cast<char>(m_data[count])) != std::string_view::npos) {
        ++count;
    }
    RemoveLeft(count);
}

void CByteBuffer::TrimRight(std::string_view set) {
    if (m_data == nullptr) return;
    while (m_length > 0 && set.find(static_cast<char>(m_data[m_length - 1])) != std::string_view::npos) {
        --m_length;
    }
    m_data[m_length] = 0;
}
