#ifndef OUTCOME_H
#define OUTCOME_H

#include <QString>
#include <QtGlobal>

#include <optional>
#include <utility>

// What an operation that can fail gives back: its value, or one line saying why it failed.
// The line reads on after a file name ("cannot write: No space left on device"): lower case,
// no full stop. Outcome<void> is for operations that give nothing back but success.
template<typename T>
class Outcome
{
public:
    Outcome(T value)
        : m_value(std::move(value))
    { }

    static Outcome failure(QString why)
    {
        Outcome outcome;
        outcome.m_error = std::move(why);
        return outcome;
    }

    bool ok() const { return m_value.has_value(); }
    const T &value() const
    {
        Q_ASSERT(ok());
        return *m_value;
    }
    T &value()
    {
        Q_ASSERT(ok());
        return *m_value;
    }
    // Why it failed; empty after success.
    const QString &error() const { return m_error; }

private:
    Outcome() = default;

    std::optional<T> m_value;
    QString m_error;
};

template<>
class Outcome<void>
{
public:
    // Success.
    Outcome() = default;

    static Outcome failure(QString why)
    {
        Outcome outcome;
        outcome.m_failed = true;
        outcome.m_error = std::move(why);
        return outcome;
    }

    bool ok() const { return !m_failed; }
    // Why it failed; empty after success.
    const QString &error() const { return m_error; }

private:
    bool m_failed = false;
    QString m_error;
};

#endif // OUTCOME_H
