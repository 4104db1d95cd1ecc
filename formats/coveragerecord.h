#ifndef COVERAGERECORD_H
#define COVERAGERECORD_H

#include "coverage.h"
#include "outcome.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

// How a .cube records its look's Coverage: comment lines "# chromaloom coverage 16 DIGITS",
// the hex digits of Coverage::toHex() split over lines of DigitsPerLine digits to keep them
// short. Other readers skip them as comments. Read back line by line while the file is read.
class CoverageRecord
{
public:
    static constexpr int DigitsPerLine = 128;

    // The comment lines that record a coverage (none when it is unknown), each ending in LF.
    static QByteArray comments(const Coverage &coverage);

    // Takes the words of a comment line (at most five kept; `whole` is false for a line
    // longer than the reader's buffer). Lines that are not part of the record are ignored;
    // a damaged one spoils it. The digits kept never exceed one record's.
    void addComment(qint64 line, const QByteArrayView *words, int count, bool whole);
    // The coverage the lines recorded: unknown when there were none; a failure, "line N:
    // damaged coverage record; coverage unknown", for a damaged record.
    Outcome<Coverage> coverage() const;

private:
    // The digits so far, the line the record starts on and its first damaged line.
    QByteArray m_digits;
    qint64 m_line = 0;
    qint64 m_fault = 0;
};

#endif // COVERAGERECORD_H
