// Intrusive reference counting: objects shared between a peer and its threads live until the last
// share_ptr to them is dropped.
#pragma once

#include "mcl/lock.h"

#include <cstdint>
#include <utility>

namespace mcl {

class share_obj {
public:
    share_obj() = default;
    // Logs when references are left: someone still points at a dead object.
    virtual ~share_obj();
    share_obj(const share_obj&) = delete;
    share_obj& operator=(const share_obj&) = delete;

    std::uint32_t reference_count() const;

private:
    template <typename T>
    friend class share_ptr;

    void add_reference();
    // Drops one reference; true when it was the last. The decrement and the test are one critical section.
    bool drop_reference();

    std::uint32_t ref_count = 0;
    mutable lock ref_lock;
};

template <typename T>
class share_ptr {
public:
    share_ptr() = default;
    explicit share_ptr(T* target) : target_(target) { take(); }
    share_ptr(const share_ptr& other) : target_(other.target_) { take(); }
    share_ptr(share_ptr&& other) noexcept : target_(std::exchange(other.target_, nullptr)) {}

    template <typename U>
    share_ptr(const share_ptr<U>& other) : target_(other.get())
    {
        take();
    }

    virtual ~share_ptr() { drop(); }

    share_ptr& operator=(share_ptr other) noexcept
    {
        std::swap(target_, other.target_);
        return *this;
    }

    void reset(T* target = nullptr) { share_ptr(target).swap(*this); }
    void swap(share_ptr& other) noexcept { std::swap(target_, other.target_); }

    T* get() const { return target_; }
    T* operator->() const { return target_; }
    T& operator*() const { return *target_; }
    explicit operator bool() const { return target_ != nullptr; }

    friend bool operator==(const share_ptr& a, const share_ptr& b) { return a.target_ == b.target_; }
    friend bool operator!=(const share_ptr& a, const share_ptr& b) { return a.target_ != b.target_; }

private:
    void take()
    {
        if (target_ != nullptr)
            static_cast<share_obj*>(target_)->add_reference();
    }

    void drop()
    {
        share_obj* target = target_;
        target_ = nullptr;
        if (target != nullptr && target->drop_reference())
            delete target;
    }

    T* target_ = nullptr;
};

} // namespace mcl
