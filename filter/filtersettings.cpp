#include "filtersettings.h"

#include "durablefile.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSettings>

#include <cmath>
#include <limits>

FilterSettings::FilterSettings() = default;

FilterSettings::~FilterSettings() = default;

bool FilterSettings::isAcceptable(const QByteArray &contents)
{
    if (contents.size() > MaxFileSize)
        return false;
    // QSettings unpacks a value that begins with '@' (also inside a list, or spelt with a
    // backslash escape) into a serialized variant. Such values never occur in a filter file,
    // so every line that is not a comment may hold neither.
    qsizetype start = 0;
    while (start < contents.size()) {
        qsizetype end = start;
        while (end < contents.size() && contents[end] != '\n' && contents[end] != '\r')
            ++end;
        qsizetype first = start;
        while (first < end && (contents[first] == ' ' || contents[first] == '\t'))
            ++first;
        if (first < end && contents[first] != ';') {
            for (qsizetype i = first; i < end; ++i) {
                if (contents[i] == '@' || contents[i] == '\\')
                    return false;
            }
        }
        start = end + 1;
    }
    return true;
}

bool FilterSettings::read(const QString &path)
{
    m_settings.reset();
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return false;
    if (file.size() > MaxFileSize)
        return false;
    const QByteArray contents = file.read(MaxFileSize + 1);
    // QSettings can only produce the key FilterType from these bytes or from an escape
    // starting with '%'; without either there is nothing for it to read.
    if (!isAcceptable(contents) || (!contents.contains("FilterType") && !contents.contains('%')))
        return false;
    file.close();
    m_settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    return m_settings->status() == QSettings::NoError;
}

qint32 FilterSettings::integer(const QString &key) const
{
    if (!m_settings)
        return 0;
    bool ok = false;
    const qlonglong value = m_settings->value(key).toLongLong(&ok);
    if (!ok || value < std::numeric_limits<qint32>::min()
        || value > std::numeric_limits<qint32>::max())
        return 0;
    return qint32(value);
}

double FilterSettings::real(const QString &key) const
{
    if (!m_settings)
        return 0.0;
    bool ok = false;
    const double value = m_settings->value(key).toString().toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

void FilterSettings::setInteger(const QString &key, qint64 value)
{
    m_entries.insert(key, QByteArray::number(value));
}

void FilterSettings::setReal(const QString &key, double value)
{
    m_entries.insert(key, QString::number(value, 'g', QLocale::FloatingPointShortest).toLatin1());
}

QByteArray FilterSettings::text() const
{
    // QSettings writes top-level keys under [General], sorted by their UTF-16 code units,
    // which is QMap's order for QString keys.
    QByteArray text = "[General]\n";
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it)
        text += it.key().toLatin1() + '=' + it.value() + '\n';
    return text;
}

bool FilterSettings::save(const QString &path) const
{
    return DurableFile::write(path, text()) == DurableFile::Result::Written;
}
