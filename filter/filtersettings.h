#ifndef FILTERSETTINGS_H
#define FILTERSETTINGS_H

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVariant>

#include <memory>

class QSettings;

// The filter file's INI layout (QSettings' IniFormat, top-level keys only), read without
// trusting the file and written through DurableFile.
//
// Reading refuses, before QSettings sees the file, anything larger than any real filter file
// and any value that QSettings would unpack as a serialized variant ("@Variant(...)" and
// the like), which could nest without bound or hold an image.
class FilterSettings
{
public:
    static constexpr qint64 MaxFileSize = 1024 * 1024;

    FilterSettings();
    ~FilterSettings();
    Q_DISABLE_COPY_MOVE(FilterSettings)

    // Opens the file for reading; false when it cannot be a filter file (it also has no
    // FilterType key).
    bool read(const QString &path);
    // The same checks on a file's contents: false when they cannot be a filter file.
    static bool isAcceptable(const QByteArray &contents);

    // The value of an integer key; 0 when it is missing or does not convert to a 32-bit
    // signed integer.
    qint32 integer(const QString &key) const;
    // The value of a real key; 0.0 when it is missing or not a finite number.
    double real(const QString &key) const;

    // Entries to write; keys are written in QSettings' order whatever order they are set in.
    void setInteger(const QString &key, qint64 value);
    void setReal(const QString &key, double value);
    // The file's text, byte for byte what QSettings writes for these entries.
    QByteArray text() const;
    // Writes text() through DurableFile, replacing any existing file; false on failure.
    bool save(const QString &path) const;

private:
    std::unique_ptr<QSettings> m_settings;
    QMap<QString, QByteArray> m_entries;
};

#endif // FILTERSETTINGS_H
