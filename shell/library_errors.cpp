// The Windows builds have no exceptions, so what the standard library would throw ends here, in
// the fatal-error report, rather than in a silent abort. Defining the library's whole family of
// throw helpers also keeps its exception runtime (about 100 KB) out of the executable.
#include <bits/functexcept.h>  // the declarations of what is defined here
#include <cstring>

#include "fatal_error.h"

namespace {

// "内存不足：所需的内存超出上限。" in code page 936.
const char kTooLarge[] =
    "\xC4\xDA\xB4\xE6\xB2\xBB\xD7\xE3\xA3\xBA\xCB\xF9\xD0\xE8\xB5\xC4\xC4\xDA\xB4\xE6\xB3\xAC"
    "\xB3\xF6\xC9\xCF\xCF\xDE\xA1\xA3";
// "程序内部错误：" in code page 936, followed by the library's own words.
const char kInternalError[] = "\xB3\xCC\xD0\xF2\xC4\xDA\xB2\xBF\xB4\xED\xCE\xF3\xA3\xBA";

// A request for more memory than can exist is reported as memory running out.
[[noreturn]] void ReportTooLarge() { ReportFatalError(kTooLarge); }

// Any other error is a fault of this program; the library's message says where. Built on the
// stack: the error may be memory running out.
[[noreturn]] void ReportInternalError(const char* what) {
  char message[256];
  const size_t prefix = sizeof kInternalError - 1;
  std::memcpy(message, kInternalError, prefix);
  const size_t room = sizeof message - prefix - 1;
  const size_t length = what ? strnlen(what, room) : 0;
  if (length > 0) std::memcpy(message + prefix, what, length);
  message[prefix + length] = '\0';
  ReportFatalError(message);
}

}  // namespace

namespace std {

void __throw_bad_alloc() { ReportTooLarge(); }
void __throw_bad_array_new_length() { ReportTooLarge(); }
void __throw_length_error(const char* what) {
  static_cast<void>(what);
  ReportTooLarge();
}
void __throw_bad_cast() { ReportInternalError("bad_cast"); }
void __throw_bad_typeid() { ReportInternalError("bad_typeid"); }
void __throw_bad_exception() { ReportInternalError("bad_exception"); }
void __throw_logic_error(const char* what) { ReportInternalError(what); }
void __throw_domain_error(const char* what) { ReportInternalError(what); }
void __throw_invalid_argument(const char* what) { ReportInternalError(what); }
void __throw_out_of_range(const char* what) { ReportInternalError(what); }
// The format's arguments are left out: filling them in would take a formatter of its own.
void __throw_out_of_range_fmt(const char* format, ...) { ReportInternalError(format); }
void __throw_runtime_error(const char* what) { ReportInternalError(what); }
void __throw_range_error(const char* what) { ReportInternalError(what); }
void __throw_overflow_error(const char* what) { ReportInternalError(what); }
void __throw_underflow_error(const char* what) { ReportInternalError(what); }

}  // namespace std
