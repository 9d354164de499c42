// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <utility>
#include <variant>

namespace ostrel::history {

// Why a history operation did not happen. The message is a complete sentence for the user.
struct HistoryError
{
    enum class Kind {
        // The file or its folder cannot be opened or created.
        CannotOpen,
        // The file is not an SQLite database or is damaged.
        Corrupt,
        // Another program held the database past the busy timeout.
        Locked,
        // The database or document was written by a newer version of Ostrel.
        NewerVersion,
        // A file that is not an Ostrel results document.
        BadDocument,
        // Anything else SQLite or the file system reported.
        Failed,
    };

    Kind kind = Kind::Failed;
    QString message;
};

// A value or the reason there is none. Nothing in the history library throws.
template <typename T> class Expected
{
public:
    Expected(T value)
        : m_(std::in_place_index<0>, std::move(value))
    {
    }
    Expected(HistoryError error)
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
    const T& operator*() const { return value(); }

    // Only when !hasValue().
    const HistoryError& error() const { return std::get<1>(m_); }

private:
    std::variant<T, HistoryError> m_;
};

struct Done
{
};

// Success with no value, or the reason for the failure.
using Status = Expected<Done>;

} // namespace ostrel::history
