#ifndef FACE_SEQUENCE_H
#define FACE_SEQUENCE_H

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace FACE {

// Growable sequence with a validity flag. An invalid sequence reads as empty.
template <typename T>
class Sequence {
public:
    Sequence() = default;
    Sequence(std::initializer_list<T> items) : m_items(items) {}

    bool is_valid() const { return m_valid; }
    // Marks the sequence invalid and drops its elements.
    void invalidate() {
        m_items.clear();
        m_valid = false;
    }
    uint32_t length() const { return m_valid ? static_cast<uint32_t>(m_items.size()) : 0u; }
    T& operator[](uint32_t index) { return m_items[index]; }
    const T& operator[](uint32_t index) const { return m_items[index]; }
    void push_back(const T& item) {
        if (m_valid) {
            m_items.push_back(item);
        }
    }
    void clear() { m_items.clear(); }

private:
    std::vector<T> m_items;
    bool m_valid = true;
};

}  // namespace FACE

#endif
