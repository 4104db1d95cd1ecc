#ifndef LASTRESORT_H
#define LASTRESORT_H

// What a program does with a fault nothing else caught (an exception escaping a thread or a
// noexcept function, an abandoned std::terminate()): one line on standard error,
// "<program>: internal error: <what>" or "<program>: not enough memory", and exit status 1
// instead of an abort with the runtime's message and a core dump.
namespace LastResort {

// Installs the handler; `program` is the name the line starts with and must outlive the
// program (a string literal).
void install(const char *program);

} // namespace LastResort

#endif // LASTRESORT_H
