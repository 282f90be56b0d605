// No exception is ever meant to escape this program: a failed request for memory ends it through
// the fatal-error report instead of throwing. The library's default terminate handler prints a
// demangled type name and links the whole demangler (about a third of the executable) for that;
// a plain abort does the same job here.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler();
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
