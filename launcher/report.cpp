#include "launcher/report.h"

#include <string>

OutputStream StdOut;

bool OutputStream::Open() {
    OsHandle handle = Output().StdOutput();
    if (handle == kInvalidHandle) return false;
    std::uint32_t type = Output().FileType(handle);
    if (type == kFileTypeUnknown) {  // no standard output: a null handle
        Output().CloseOsHandle(handle);
        return false;
    }
    handle_ = handle;
    used_ = 0;
    open_ = true;
    return true;
}

bool OutputStream::Available() { return open_ || Open(); }

bool OutputStream::WriteBuffer() {
    OsResult written = Output().WriteBytes(handle_, buffer_, static_cast<std::uint32_t>(used_));
    used_ = 0;  // emptied whether or not the write went through
    if (!written) status_ = static_cast<std::int32_t>(written.error);
    return written.ok;
}

void OutputStream::Append(const char* bytes, std::size_t count) {
    if (!open_ && !Open()) {
        status_ = kNotOpen;
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        buffer_[used_++] = bytes[i];
        if (used_ == kBufferSize && !WriteBuffer()) return;  // the rest is dropped
    }
}

void OutputStream::Write(TextView text) {
    // Each piece on its own, so the line end never depends on the text.
    std::string bytes = Output().ToAnsi(text);
    Append(bytes.data(), bytes.size());
}

void OutputStream::WriteLineEnd() {
    Append("\r\n", 2);
    if (open_ && used_ > 0) WriteBuffer();
}

std::int32_t OutputStream::TakeStatus() {
    std::int32_t status = status_;
    status_ = 0;
    return status;
}

void OutputStream::Close() {
    if (open_ && used_ > 0) WriteBuffer();
    open_ = false;
}

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
