// MinGW builds only. The C++ library's default terminate handler names an uncaught exception's
// type on standard error, and so links the whole C++ demangler (about 40 KB) into an exe meant to
// stay small, for a message that nobody reads at log-on. Defining the handler here keeps the
// library's own out: an uncaught exception (only running out of memory can throw) still ends the
// process at once, exactly as the library's handler does after its message.
#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
