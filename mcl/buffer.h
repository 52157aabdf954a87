// Growable array with room for 256 elements inside the object, so that frame headers, most payloads and
// wait-handle lists never touch the heap. Pure logic: also built natively with the sanitizers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

namespace mcl {

template <typename T>
class buffer {
    static_assert(std::is_trivially_copyable<T>::value, "buffer moves its elements with memcpy");

public:
    static constexpr std::uint32_t inline_capacity = 256;
    static constexpr std::uint32_t default_growth_step = 256;
    static constexpr std::uint32_t npos = 0xFFFFFFFFu;

    buffer()
    {
        reset_storage();
        write(0, nullptr, 0);
    }

    buffer(const T* elements, std::uint32_t count) : buffer() { append(elements, count); }

    buffer(const buffer& other) : buffer() { append(other.data_, other.size_); }

    buffer(buffer&& other) noexcept : buffer()
    {
        if (other.holds_heap_block()) {
            data_ = other.data_;
            capacity_ = other.capacity_;
            size_ = other.size_;
            other.reset_storage();
            other.size_ = 0;
            return;
        }
        append(other.data_, other.size_);
        other.size_ = 0;
    }

    buffer& operator=(const buffer& other)
    {
        if (this != &other)
            assign(other.data_, other.size_);
        return *this;
    }

    buffer& operator=(buffer&& other) noexcept
    {
        if (this == &other)
            return *this;
        if (!other.holds_heap_block()) {
            assign(other.data_, other.size_);
            other.size_ = 0;
            return *this;
        }
        release_storage();
        data_ = other.data_;
        capacity_ = other.capacity_;
        size_ = other.size_;
        other.reset_storage();
        other.size_ = 0;
        return *this;
    }

    // Slot 0: back to the inline storage (the heap block, if any, is not freed here).
    virtual T* reset_storage()
    {
        data_ = inline_storage_;
        capacity_ = inline_capacity;
        spare_ = T();
        return inline_storage_;
    }

    // Slot 1.
    virtual ~buffer() { free_heap_block(); }

    // Slot 2.
    virtual buffer& append(const buffer& other) { return append(other.data_, other.size_); }

    // Slot 3.
    virtual buffer& append(const T* elements, std::uint32_t count) { return write(size_, elements, count); }

    // Slot 4: copies count elements to position and drops whatever stood behind them. A position beyond the
    // contents, an end past 32 bits or storage that cannot be had leaves the buffer as it was.
    virtual buffer& write(std::uint32_t position, const T* elements, std::uint32_t count)
    {
        if (position > size_ || count == 0)
            return *this;
        const std::uint64_t end = static_cast<std::uint64_t>(position) + count;
        if (end > npos)
            return *this;
        if (end > capacity_) {
            // The new storage gets the elements before the old one goes: the source may lie inside it.
            if (!grow_to(end, position, elements, count))
                return *this;
        } else if (elements != nullptr) {
            std::memmove(data_ + position, elements, static_cast<std::size_t>(count) * sizeof(T));
        }
        if (elements == nullptr) {
            size_ = position;
            return *this;
        }
        size_ = static_cast<std::uint32_t>(end);
        return *this;
    }

    // Slot 5.
    virtual buffer& assign(const T* elements, std::uint32_t count)
    {
        clear();
        return append(elements, count);
    }

    // Slot 6.
    virtual void release_storage()
    {
        if (holds_heap_block())
            size_ = 0;  // the contents went with the block
        free_heap_block();
        reset_storage();
    }

    // Slot 7.
    virtual void clear() { size_ = 0; }

    // Slot 8.
    virtual bool empty() const { return size_ == 0; }

    // Slot 9: adopts a block made with new T[capacity]; its elements become the contents.
    virtual bool attach(T* block, std::uint32_t capacity)
    {
        if (block == nullptr || capacity == 0)
            return false;
        if (capacity <= inline_capacity) {
            free_heap_block();
            reset_storage();
            std::memcpy(inline_storage_, block, static_cast<std::size_t>(capacity) * sizeof(T));
            delete[] block;
        } else {
            free_heap_block();
            data_ = block;
            capacity_ = capacity;
        }
        size_ = capacity;
        return true;
    }

    // Slot 10: hands the contents to the caller as a block made with new T[] (size() elements; read size()
    // first) and leaves the buffer empty. Null when the buffer is empty or no memory is left.
    virtual T* detach()
    {
        if (size_ == 0)
            return nullptr;
        T* block = nullptr;
        if (holds_heap_block()) {
            block = data_;
            reset_storage();
        } else {
            block = new (std::nothrow) T[size_];
            if (block == nullptr)
                return nullptr;
            std::memcpy(block, data_, static_cast<std::size_t>(size_) * sizeof(T));
        }
        size_ = 0;
        return block;
    }

    // Slot 11.
    virtual std::uint32_t find(const T& value, std::uint32_t start) const
    {
        for (std::uint32_t i = start; i < size_; ++i) {
            if (data_[i] == value)
                return i;
        }
        return npos;
    }

    // Slot 12.
    virtual void shrink(std::uint32_t count)
    {
        if (count > size_) {
            clear();
            return;
        }
        size_ -= count;
    }

    // Any index at or beyond size gives the zeroed spare element, never memory outside the contents.
    T& operator[](std::uint32_t index)
    {
        if (index < size_)
            return data_[index];
        spare_ = T();
        return spare_;
    }

    // A write through the other accessor may have left the spare dirty; a read-only view must still see zero.
    const T& operator[](std::uint32_t index) const
    {
        static const T zero = T();
        return index < size_ ? data_[index] : zero;
    }

    T* data() { return data_; }
    const T* data() const { return data_; }
    std::uint32_t size() const { return size_; }
    std::uint32_t capacity() const { return capacity_; }
    std::uint32_t growth_step() const { return growth_step_; }
    bool uses_inline_storage() const { return data_ == inline_storage_; }

    T* begin() { return data_; }
    T* end() { return data_ + size_; }
    const T* begin() const { return data_; }
    const T* end() const { return data_ + size_; }

private:
    bool holds_heap_block() const { return data_ != inline_storage_; }

    void free_heap_block()
    {
        if (holds_heap_block())
            delete[] data_;
        data_ = inline_storage_;
    }

    // Moves to storage for end elements, keeping the first position ones and copying the new elements in
    // before the old storage goes (the source may lie inside it).
    bool grow_to(std::uint64_t end, std::uint32_t position, const T* elements, std::uint32_t count)
    {
        std::uint64_t new_capacity = inline_capacity;
        if (end > inline_capacity)
            new_capacity = end - end % growth_step_ + growth_step_;
        if (new_capacity > npos)
            return false;
        T* storage = inline_storage_;
        if (new_capacity > inline_capacity) {
            storage = new (std::nothrow) T[static_cast<std::size_t>(new_capacity)];
            if (storage == nullptr)
                return false;
        }
        if (storage != data_)
            std::memmove(storage, data_, static_cast<std::size_t>(position) * sizeof(T));
        if (elements != nullptr)
            std::memmove(storage + position, elements, static_cast<std::size_t>(count) * sizeof(T));
        if (holds_heap_block() && storage != data_)
            delete[] data_;
        data_ = storage;
        capacity_ = static_cast<std::uint32_t>(new_capacity);
        return true;
    }

    alignas(std::max_align_t) T inline_storage_[inline_capacity];
    T* data_ = inline_storage_;
    T spare_ = T();
    std::uint32_t capacity_ = inline_capacity;
    std::uint32_t size_ = 0;
    std::uint32_t growth_step_ = default_growth_step;
};

// The bytes that cross a pipe: payloads, frames, read-ahead and write queues.
class binary_t : public buffer<unsigned char> {
public:
    using buffer<unsigned char>::buffer;
};

// The wait-handle lists of the pipe threads.
using pointer_buffer = buffer<void*>;

extern template class buffer<unsigned char>;
extern template class buffer<void*>;

} // namespace mcl
