// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <type_traits>
#include <utility>
#include <variant>

namespace platform {

// The value of an operation that may fail, or the reason it failed. Each area
// has a small error type of its own (a kind to act on and a sentence for the
// user); nothing in the tree throws to report a failure.
template <typename T, typename E> class [[nodiscard]] Result
{
    static_assert(!std::is_same_v<T, E>, "a value and an error of one type cannot be told apart");

public:
    using Value = T;
    using Error = E;

    Result(T value)
        : m_(std::in_place_index<0>, std::move(value))
    {
    }
    Result(E error)
        : m_(std::in_place_index<1>, std::move(error))
    {
    }

    bool hasValue() const { return m_.index() == 0; }
    explicit operator bool() const { return hasValue(); }

    // Only when hasValue().
    const T& value() const& { return std::get<0>(m_); }
    T& value() & { return std::get<0>(m_); }
    T&& value() && { return std::get<0>(std::move(m_)); }
    const T* operator->() const { return &value(); }
    T* operator->() { return &value(); }
    const T& operator*() const& { return value(); }
    T& operator*() & { return value(); }

    // The value, or `fallback` when there is none.
    T value_or(T fallback) const& { return hasValue() ? value() : std::move(fallback); }

    // Only when !hasValue().
    const E& error() const { return std::get<1>(m_); }

private:
    std::variant<T, E> m_;
};

// The value of an operation that gives none.
struct Done
{
    friend bool operator==(Done, Done) = default;
};

// Success, or the reason for the failure.
template <typename E> using Status = Result<Done, E>;

} // namespace platform
