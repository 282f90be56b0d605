// The Windows builds have no exceptions, so what the standard library would throw ends here, in
// the fatal-error report, rather than in a silent abort. Defining the library's whole family of
// throw helpers also keeps its exception runtime and unwinder (about 125 KB) out of the executable.
#include <bits/functexcept.h>  // the declarations of what is defined here
#include <cstdarg>
#include <cstring>

#include "fatal_error.h"

namespace {

// "内存不足：所需的内存超出上限。" in code page 936.
const char kTooLarge[] =
    "\xC4\xDA\xB4\xE6\xB2\xBB\xD7\xE3\xA3\xBA\xCB\xF9\xD0\xE8\xB5\xC4\xC4\xDA\xB4\xE6\xB3\xAC"
    "\xB3\xF6\xC9\xCF\xCF\xDE\xA1\xA3";
// "程序内部错误：" in code page 936.
const char kInternalError[] = "\xB3\xCC\xD0\xF2\xC4\xDA\xB2\xBF\xB4\xED\xCE\xF3\xA3\xBA";

// A request for more memory than can exist is reported as memory running out.
[[noreturn]] void ReportTooLarge() { ReportFatalError(kTooLarge); }

// Any other error is a fault of this program: "<prefix><where> (<kind>)", where the library's
// words say where it happened, or "<prefix><kind>" when they don't. Built on the stack: the error may be memory running out.
[[noreturn]] void ReportInternalError(const char* where, const char* kind) {
  char message[256];
  size_t used = 0;
  const auto append = [&](const char* text) {
    const size_t length = text ? strnlen(text, sizeof message - 1 - used) : 0;
    if (length > 0) std::memcpy(message + used, text, length);
    used += length;
  };
  append(kInternalError);
  if (where && *where) {
    append(where);
    append(" (");
    append(kind);
    append(")");
  } else {
    append(kind);
  }
  message[used] = '\0';
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
void __throw_bad_cast() { ReportInternalError(nullptr, "bad_cast"); }
void __throw_bad_typeid() { ReportInternalError(nullptr, "bad_typeid"); }
void __throw_bad_exception() { ReportInternalError(nullptr, "bad_exception"); }
void __throw_logic_error(const char* what) { ReportInternalError(what, "logic_error"); }
void __throw_domain_error(const char* what) { ReportInternalError(what, "domain_error"); }
void __throw_invalid_argument(const char* what) { ReportInternalError(what, "invalid_argument"); }
void __throw_out_of_range(const char* what) { ReportInternalError(what, "out_of_range"); }
// Every caller in the library passes "%s: ..." with the name of the function first; that name is
// what the report shows.
void __throw_out_of_range_fmt(const char* format, ...) {
  const char* where = format;
  if (std::strncmp(format, "%s", 2) == 0) {
    va_list arguments;
    va_start(arguments, format);
    where = va_arg(arguments, const char*);
    va_end(arguments);
  }
  ReportInternalError(where, "out_of_range");
}
void __throw_runtime_error(const char* what) { ReportInternalError(what, "runtime_error"); }
void __throw_range_error(const char* what) { ReportInternalError(what, "range_error"); }
void __throw_overflow_error(const char* what) { ReportInternalError(what, "overflow_error"); }
void __throw_underflow_error(const char* what) { ReportInternalError(what, "underflow_error"); }

}  // namespace std
