// The launcher's standard output stream.
#include "launcher/output.h"

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
    console_ = Output().IsConsole(handle);
    used_ = 0;
    open_ = true;
    return true;
}

bool OutputStream::Available() { return open_ || Open(); }

bool OutputStream::WriteBuffer() {
    const auto count = static_cast<std::uint32_t>(used_);
    OsResult written = console_ ? Output().WriteConsoleText(handle_, units_, count)
                                : Output().WriteBytes(handle_, buffer_, count);
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

void OutputStream::AppendUnits(TextView text) {
    for (char16_t unit : text) {
        units_[used_++] = unit;
        if (used_ == Capacity() && !WriteBuffer()) return;  // the rest is dropped
    }
}

void OutputStream::Write(TextView text) {
    if (!open_ && !Open()) {
        status_ = kNotOpen;
        return;
    }
    if (console_) {
        AppendUnits(text);
        return;
    }
    // Each piece on its own, so the line end never depends on the text.
    std::string bytes = Output().ToAnsi(text);
    Append(bytes.data(), bytes.size());
}

void OutputStream::WriteLineEnd() {
    if (open_ && console_) {
        AppendUnits(u"\r\n");
    } else {
        Append("\r\n", 2);
    }
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
