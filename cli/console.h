#ifndef CONSOLE_H
#define CONSOLE_H

#include <QString>

// The tool's output streams. Every function may be called from any thread; each line is
// written whole, and a progress line on a terminal is cleared before anything else is
// written over it.
namespace Console {

// One result line on standard output.
void printLine(const QString &line);

// "chromaloom-cli: <file>: <problem>" on standard error.
void reportFailure(const QString &file, const QString &problem);

// "chromaloom-cli: <text>" on standard error.
void reportError(const QString &text);

// True when standard error goes to a terminal, where progress is worth showing.
bool showsProgress();

// Replaces the progress line with "file <done> of <total>"; only on a terminal.
void showProgress(int done, int total);

// Removes the progress line, if one is shown.
void clearProgress();

} // namespace Console

#endif // CONSOLE_H
