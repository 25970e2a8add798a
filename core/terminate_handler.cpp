// The handler for an uncaught exception in builds with the runtime linked in: abort only.
// Linked into the daemon and the tool directly, never through the library.
#include <cstdlib>

namespace __gnu_cxx {
// Replaces the runtime's handler, which prints the exception's type and would link the whole
// C++ demangler (some 40 KiB of text) into each program; nobody reads the daemon's standard
// error on a box, and the tool catches what it expects.
void __verbose_terminate_handler() {
    abort();
}
}  // namespace __gnu_cxx
