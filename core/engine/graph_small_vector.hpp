// A vector that keeps its first N elements inside the object.
//
// A graph value carries a short list of pending changes that is copied with
// every clone of the graph. Most graphs hold a handful of changes or none, so
// keeping the first few inline makes a clone of such a graph free of heap
// allocation. Past N elements the storage moves to the heap and stays there
// until the vector is destroyed: clear() keeps the capacity, because a graph
// that once spilled tends to fill up again before its next fold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace morvane::core::engine {

template <typename T, std::size_t N>
class SmallVector {
    static_assert(N > 0);
    static_assert(std::is_nothrow_move_constructible_v<T>,
                  "elements are moved between the inline and the heap storage");

public:
    using value_type = T;
    using iterator = T*;
    using const_iterator = const T*;

    SmallVector() noexcept : data_(inline_data()) {}

    SmallVector(const SmallVector& other) : data_(inline_data()) {
        reserve(other.size_);
        std::uninitialized_copy(other.begin(), other.end(), data_);
        size_ = other.size_;
    }

    SmallVector(SmallVector&& other) noexcept : data_(inline_data()) { take(std::move(other)); }

    SmallVector& operator=(const SmallVector& other) {
        if (this != &other) {
            SmallVector copy(other);
            *this = std::move(copy);
        }
        return *this;
    }

    SmallVector& operator=(SmallVector&& other) noexcept {
        if (this != &other) {
            release();
            data_ = inline_data();
            capacity_ = N;
            take(std::move(other));
        }
        return *this;
    }

    ~SmallVector() { release(); }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    std::size_t capacity() const noexcept { return capacity_; }
    // True while the elements live inside the object.
    bool is_inline() const noexcept { return data_ == inline_data(); }

    T* data() noexcept { return data_; }
    const T* data() const noexcept { return data_; }
    T* begin() noexcept { return data_; }
    T* end() noexcept { return data_ + size_; }
    const T* begin() const noexcept { return data_; }
    const T* end() const noexcept { return data_ + size_; }
    T& operator[](std::size_t i) noexcept { return data_[i]; }
    const T& operator[](std::size_t i) const noexcept { return data_[i]; }
    T& back() noexcept { return data_[size_ - 1]; }
    const T& back() const noexcept { return data_[size_ - 1]; }

    template <typename... Args>
    T& emplace_back(Args&&... args) {
        if (size_ == capacity_) {
            // Build the element before moving the old ones, so that an argument
            // referring into this vector stays valid.
            T element(std::forward<Args>(args)...);
            grow(capacity_ * 2);
            ::new (static_cast<void*>(data_ + size_)) T(std::move(element));
        } else {
            ::new (static_cast<void*>(data_ + size_)) T(std::forward<Args>(args)...);
        }
        return data_[size_++];
    }

    void push_back(const T& value) { emplace_back(value); }
    void push_back(T&& value) { emplace_back(std::move(value)); }
    void pop_back() noexcept { data_[--size_].~T(); }

    void reserve(std::size_t wanted) {
        if (wanted > capacity_) grow(wanted);
    }

    void clear() noexcept {
        std::destroy(begin(), end());
        size_ = 0;
    }

private:
    T* inline_data() noexcept { return std::launder(reinterpret_cast<T*>(inline_)); }
    const T* inline_data() const noexcept {
        return std::launder(reinterpret_cast<const T*>(inline_));
    }

    void grow(std::size_t new_capacity) {
        std::allocator<T> alloc;
        T* fresh = alloc.allocate(new_capacity);
        std::uninitialized_move(begin(), end(), fresh);
        const std::size_t count = size_;
        release();
        data_ = fresh;
        size_ = count;
        capacity_ = new_capacity;
    }

    // Destroys the elements and frees heap storage; leaves size_ at 0 but
    // data_ and capacity_ untouched, so callers must reset them.
    void release() noexcept {
        clear();
        if (!is_inline()) std::allocator<T>().deallocate(data_, capacity_);
    }

    // Takes the elements of `other`, which is left empty and inline. This
    // vector must be empty and inline.
    void take(SmallVector&& other) noexcept {
        if (other.is_inline()) {
            std::uninitialized_move(other.begin(), other.end(), data_);
            size_ = other.size_;
            other.clear();
        } else {
            data_ = other.data_;
            size_ = other.size_;
            capacity_ = other.capacity_;
            other.data_ = other.inline_data();
            other.size_ = 0;
            other.capacity_ = N;
        }
    }

    T* data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = N;
    alignas(T) unsigned char inline_[N * sizeof(T)];
};

}  // namespace morvane::core::engine
