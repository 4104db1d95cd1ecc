#ifndef FILTERSETTINGS_H
#define FILTERSETTINGS_H

#include "outcome.h"

#include <QByteArray>
#include <QMap>
#include <QString>

// The filter file's INI text: the top-level keys that Qt's INI settings write under
// [General], and the keys of other sections as "Section/key", read without trusting the file
// and written through DurableFile.
//
// The file's bytes are read once and parsed here. What the program and Qt's INI settings
// write is read as Qt reads it: keys before any section or in a section named General (in
// any case) are top-level, the last of duplicate keys wins, keys and values are trimmed, a
// value may be one quoted string, ';' starts a comment, lines end in LF, CRLF or CR, and lines
// without '=' hold nothing. Whatever Qt would read differently, or unpack, is refused
// with the line at fault: a quote left open at the end of a line or a trailing backslash
// (both continue a value over the next lines), any other backslash escape, '@' (a serialized
// value, which could nest without bound or hold an image), '%' escapes and quotes in keys and
// section headers, control characters and text that is not UTF-8. A file holding a NUL byte
// is not text at all.
class FilterSettings
{
public:
    static constexpr qint64 MaxFileSize = 1024 * 1024;

    // Reads the file once; fails when it cannot be a filter file, with one line: "not a
    // filter file", with ": line N: <problem>" where a line is at fault, or "cannot read file".
    Outcome<void> read(const QString &path);
    // The same on a file's contents.
    Outcome<void> parse(const QByteArray &contents);

    // The value of an integer key; 0, with *ok false, when it is missing or does not convert
    // to a 32-bit signed integer.
    qint32 integer(const QString &key, bool *ok = nullptr) const;
    // The value of a real key; 0.0, with *ok false, when it is missing or not a finite number.
    double real(const QString &key, bool *ok = nullptr) const;
    // The value of a key as it stands; empty, with *ok false, when it is missing.
    QString string(const QString &key, bool *ok = nullptr) const;

    // Entries to write; keys are written in the order Qt's INI settings use, whatever order
    // they are set in.
    void setInteger(const QString &key, qint64 value);
    void setReal(const QString &key, double value);
    // A value of characters that need no quotes or escapes (letters, digits).
    void setString(const QString &key, const QString &value);
    // The file's text, byte for byte what Qt's INI settings write for these entries: the
    // top-level keys under [General], then a section for the keys of each "Section/key".
    QByteArray text() const;
    // Writes text() through DurableFile, replacing any existing file; false on failure.
    bool save(const QString &path) const;

private:
    bool parseText(const QByteArray &contents);
    // Forgets the entries and keeps the line why, for read() and parse() to give back.
    bool fail(qint64 line, const QString &problem);
    // `section` is the section the line is in; empty for the top-level keys.
    bool parseLine(qint64 line, QByteArrayView text, QString *section);

    // The entries read or set, by key ("Section/key" outside the top level).
    QMap<QString, QString> m_entries;
    QString m_error;
};

#endif // FILTERSETTINGS_H
