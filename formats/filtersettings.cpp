#include "filtersettings.h"

#include "durablefile.h"

#include <QByteArrayView>
#include <QFile>
#include <QLocale>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArrayView trimmed(QByteArrayView text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && (text[first] == ' ' || text[first] == '\t'))
        ++first;
    while (last > first && (text[last - 1] == ' ' || text[last - 1] == '\t'))
        --last;
    return text.sliced(first, last - first);
}

bool isControl(char c) { return (uchar(c) < 0x20 && c != '\t') || c == '\x7f'; }

// At most MaxFileSize + 1 bytes of a regular file, read through one descriptor.
enum class ReadResult { Read, NotAFile, Failed };
ReadResult readFile(const QString &path, QByteArray *contents)
{
    // Without O_NONBLOCK, a FIFO put in the file's place would block the open.
    const int fd
        = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return ReadResult::Failed;
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return ReadResult::NotAFile;
    }
    contents->resize(qsizetype(std::min<qint64>(status.st_size, FilterSettings::MaxFileSize)) + 1);
    qsizetype filled = 0;
    for (;;) {
        if (filled == contents->size()) {
            if (filled > FilterSettings::MaxFileSize)
                break;
            contents->resize(FilterSettings::MaxFileSize + 1);
        }
        const ssize_t got
            = ::read(fd, contents->data() + filled, size_t(contents->size() - filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            ::close(fd);
            return ReadResult::Failed;
        }
        if (got == 0)
            break;
        filled += qsizetype(got);
    }
    ::close(fd);
    contents->truncate(filled);
    return ReadResult::Read;
}

} // namespace

Outcome<void> FilterSettings::read(const QString &path)
{
    QByteArray contents;
    const ReadResult result = readFile(path, &contents);
    if (result == ReadResult::Read)
        return parse(contents);
    if (result == ReadResult::NotAFile) {
        fail(0, QString());
        return Outcome<void>::failure(m_error);
    }
    m_entries.clear();
    return Outcome<void>::failure(QStringLiteral("cannot read file"));
}

Outcome<void> FilterSettings::parse(const QByteArray &contents)
{
    if (!parseText(contents))
        return Outcome<void>::failure(m_error);
    return {};
}

bool FilterSettings::fail(qint64 line, const QString &problem)
{
    m_entries.clear();
    m_error = QStringLiteral("not a filter file");
    if (line > 0)
        m_error += QStringLiteral(": line %1: %2").arg(line).arg(problem);
    else if (!problem.isEmpty())
        m_error += QStringLiteral(": ") + problem;
    return false;
}

bool FilterSettings::parseText(const QByteArray &contents)
{
    m_entries.clear();
    m_error.clear();
    if (contents.size() > MaxFileSize)
        return fail(0, QStringLiteral("larger than 1 MB"));
    if (const qsizetype nul = contents.indexOf('\0'); nul >= 0) {
        // Lines end in LF, CRLF or a lone CR, as below.
        const QByteArray before = contents.first(nul);
        const qint64 ends = before.count('\n') + before.count('\r') - before.count("\r\n");
        return fail(ends + 1, QStringLiteral("binary data"));
    }

    QByteArrayView text(contents);
    if (text.startsWith("\xef\xbb\xbf"))
        text = text.sliced(3);
    QString section; // keys before any section are top-level ones
    qint64 line = 0;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r')
            ++end;
        if (!parseLine(++line, text.sliced(start, end - start), &section))
            return false;
        if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
    return true;
}

bool FilterSettings::parseLine(qint64 line, QByteArrayView text, QString *section)
{
    if (!text.isValidUtf8())
        return fail(line, QStringLiteral("not UTF-8 text"));
    if (std::any_of(text.begin(), text.end(), isControl))
        return fail(line, QStringLiteral("a control character"));
    const QByteArrayView whole = trimmed(text);
    if (whole.isEmpty() || whole.front() == ';')
        return true;

    // Qt's INI settings read every other line for quotes, escapes and serialized values, also the
    // lines that hold no key.
    if (whole.contains('@'))
        return fail(line, QStringLiteral("a serialized value (@...)"));
    if (whole.back() == '\\')
        return fail(line, QStringLiteral("a value continues over lines"));
    if (whole.contains('\\'))
        return fail(line, QStringLiteral("a backslash escape"));
    // A ';' outside quotes starts a comment; the first '=' outside quotes ends the key.
    bool quoted = false;
    qsizetype end = whole.size();
    qsizetype equals = -1;
    for (qsizetype i = 0; i < whole.size(); ++i) {
        const char c = whole[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == ';') {
            end = i;
            break;
        } else if (!quoted && c == '=' && equals < 0) {
            equals = i;
        }
    }
    if (quoted)
        return fail(line, QStringLiteral("a quoted value continues over lines"));

    if (whole.front() == '[') {
        const QByteArrayView header = trimmed(whole.first(end));
        const qsizetype close = header.indexOf(']');
        if (close < 0)
            return fail(line, QStringLiteral("a section header without ]"));
        if (close != header.size() - 1)
            return fail(line, QStringLiteral("text after a section header"));
        const QByteArrayView name = trimmed(header.sliced(1, close - 1));
        if (name.contains('"') || name.contains('%'))
            return fail(line, QStringLiteral("a quote or %-escape in a section header"));
        // Qt's INI settings read the keys of any other section, an empty name too, as
        // "name/key".
        const QString named = QString::fromUtf8(name);
        *section = named.compare(QLatin1String("general"), Qt::CaseInsensitive) == 0
            ? QString()
            : named + QLatin1Char('/');
        return true;
    }
    if (equals < 0)
        return true;

    const QByteArrayView key = trimmed(whole.first(equals));
    QByteArrayView value = trimmed(whole.sliced(equals + 1, end - equals - 1));
    if (key.contains('"') || key.contains('%'))
        return fail(line, QStringLiteral("a quote or %-escape in a key"));
    if (value.contains('"')) {
        // One quoted string only, which Qt's INI settings take as it stands.
        if (value.front() != '"' || value.back() != '"' || value.count('"') != 2)
            return fail(line, QStringLiteral("a quote inside a value"));
        value = value.sliced(1, value.size() - 2);
    }
    m_entries.insert(*section + QString::fromUtf8(key), QString::fromUtf8(value));
    return true;
}

qint32 FilterSettings::integer(const QString &key, bool *ok) const
{
    bool converted = false;
    const auto it = m_entries.constFind(key);
    const qlonglong value = it == m_entries.cend() ? 0 : it->toLongLong(&converted);
    converted = converted && value >= std::numeric_limits<qint32>::min()
        && value <= std::numeric_limits<qint32>::max();
    if (ok)
        *ok = converted;
    return converted ? qint32(value) : 0;
}

double FilterSettings::real(const QString &key, bool *ok) const
{
    bool converted = false;
    const auto it = m_entries.constFind(key);
    const double value = it == m_entries.cend() ? 0.0 : it->toDouble(&converted);
    converted = converted && std::isfinite(value);
    if (ok)
        *ok = converted;
    return converted ? value : 0.0;
}

QString FilterSettings::string(const QString &key, bool *ok) const
{
    const auto it = m_entries.constFind(key);
    if (ok)
        *ok = it != m_entries.cend();
    return it == m_entries.cend() ? QString() : *it;
}

void FilterSettings::setInteger(const QString &key, qint64 value)
{
    m_entries.insert(key, QString::number(value));
}

void FilterSettings::setReal(const QString &key, double value)
{
    m_entries.insert(key, QString::number(value, 'g', QLocale::FloatingPointShortest));
}

void FilterSettings::setString(const QString &key, const QString &value)
{
    m_entries.insert(key, value);
}

QByteArray FilterSettings::text() const
{
    // Qt's INI settings write top-level keys under [General], then each other section after a
    // blank line, keys sorted by their UTF-16 code units, which is QMap's order for QString
    // keys; the keys of one section follow each other in that order.
    QByteArray text = "[General]\n";
    QByteArray sections;
    std::optional<QString> section;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        const qsizetype slash = it.key().indexOf(QLatin1Char('/'));
        if (slash < 0) {
            text += it.key().toLatin1() + '=' + it.value().toLatin1() + '\n';
            continue;
        }
        if (section != it.key().left(slash)) {
            section = it.key().left(slash);
            sections += "\n[" + section->toLatin1() + "]\n";
        }
        sections += it.key().mid(slash + 1).toLatin1() + '=' + it.value().toLatin1() + '\n';
    }
    return text + sections;
}

bool FilterSettings::save(const QString &path) const
{
    return DurableFile::write(path, text()).ok();
}
