// The failure line on standard output, and the box without one.
#include "launcher/report.h"

Text OutputFailureMessage(std::int32_t status) {
    switch (status) {
        case kOutputFileNotFound:
            return u"The specified file was not found";
        case kOutputPathNotFound:
            return u"Path not found";
        case kOutputTooManyOpenFiles:
            return u"Too many open files";
        case kOutputAccessDenied:
            return u"File access denied";
        case kOutputReadPastEnd:
            return u"Read beyond end of file";
        case kOutputDiskFull:
            return u"Disk full";
        case kOutputInvalidNumber:
            return u"Invalid numeric input";
    }
    return u"I/O error " + DecimalText(status);
}

namespace {

// Not inlined, so that the failure counts as raised in ReportFailure, right
// after its output check.
[[noreturn]] __attribute__((noinline)) void RaiseOutputFailure(std::int32_t status) {
    throw InOutError(status, OutputFailureMessage(status), CALLER_ADDRESS());
}

}  // namespace

bool ReportFailure(const Failure& failure) {
    StdOut.Write(failure.KindName());
    StdOut.Write(u": ");
    StdOut.Write(failure.Message());
    StdOut.WriteLineEnd();
    std::int32_t status = StdOut.TakeStatus();
    // Started the ordinary way the launcher has no standard output: the
    // player is then shown the failure that ended the run, not the missing line.
    if (status == OutputStream::kNotOpen) return false;
    if (status != 0) RaiseOutputFailure(status);
    return true;
}
