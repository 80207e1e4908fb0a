#pragma once

#include <QMutex>
#include <utility>

/// A value one thread edits while another reads it: every access holds the lock, and readers get a
/// copy, so no one sees a value half-written.
template <typename T> class Guarded {
public:
    Guarded() = default;
    explicit Guarded(T value) : m_value(std::move(value)) {}
    Guarded(const Guarded &) = delete;
    Guarded &operator=(const Guarded &) = delete;

    T get() const
    {
        const QMutexLocker lock(&m_mutex);
        return m_value;
    }
    void set(T value)
    {
        const QMutexLocker lock(&m_mutex);
        m_value = std::move(value);
    }
    /// Runs change on the value under the lock.
    template <typename F> void edit(F &&change)
    {
        const QMutexLocker lock(&m_mutex);
        std::forward<F>(change)(m_value);
    }

private:
    mutable QMutex m_mutex;
    T m_value{};
};
