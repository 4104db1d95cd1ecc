#include "lastresort.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

namespace {

const char *programName = "";

[[noreturn]] void reportAndExit()
{
    // No allocation here: the fault may be the lack of memory itself.
    const std::exception_ptr fault = std::current_exception();
    if (!fault) {
        std::fprintf(stderr, "%s: internal error: terminated\n", programName);
    } else {
        try {
            std::rethrow_exception(fault);
        } catch (const std::bad_alloc &) {
            std::fprintf(stderr, "%s: not enough memory\n", programName);
        } catch (const std::exception &exception) {
            std::fprintf(stderr, "%s: internal error: %s\n", programName, exception.what());
        } catch (...) {
            std::fprintf(stderr, "%s: internal error: unknown exception\n", programName);
        }
    }
    // Neither destructors nor atexit handlers: the state they would work on is broken.
    std::_Exit(1);
}

} // namespace

namespace LastResort {

void install(const char *program)
{
    programName = program;
    std::set_terminate(reportAndExit);
}

} // namespace LastResort
