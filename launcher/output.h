#pragma once
// The program's standard output, which the player's messages and the
// failure report write to.
#include <cstddef>
#include <cstdint>

#include "launcher/platform.h"

// The statuses an output failure carries, and its line reports: the
// system's error codes below 100, the stream's own from 100 on. Callers that
// read the failure line may rely on them.
constexpr std::int32_t kOutputFileNotFound = 2;
constexpr std::int32_t kOutputPathNotFound = 3;
constexpr std::int32_t kOutputTooManyOpenFiles = 4;
constexpr std::int32_t kOutputAccessDenied = 5;
constexpr std::int32_t kOutputReadPastEnd = 100;
constexpr std::int32_t kOutputDiskFull = 101;
constexpr std::int32_t kOutputNotOpen = 105;
constexpr std::int32_t kOutputInvalidNumber = 106;

// The program's standard output as a text stream: opened by its first
// write. Each line is gathered and handed to the system whole, in one write,
// at its line end, on a console, a file or a pipe alike: a program reading a
// pipe sees every line as soon as it is formed, and a launcher ended early
// leaves no line cut short. Only a line longer than the buffer goes out in
// bufferfuls. A console is written in UTF-16, every character as it is; a
// file or a pipe gets the ANSI code page, as its readers expect.
class OutputStream {
public:
    // Room for the longest message, with three full paths in a double-byte
    // code page; a fixed buffer, as reporting exhausted memory needs no more.
    static constexpr std::size_t kBufferSize = 4096;
    // The status of a write that found no standard output to open: the
    // output failures' own number for a file not open for output.
    static constexpr std::int32_t kNotOpen = kOutputNotOpen;

    // Opens the stream when it is not open yet; false when there is no
    // standard output. Sets no status.
    bool Available();
    void Write(TextView text);
    void WriteLineEnd();
    // Reads the status of the last output error and sets it back to 0.
    std::int32_t TakeStatus();
    // Writes what the buffer still holds; an error here is not reported.
    void Close();

private:
    bool Open();
    void Append(const char* bytes, std::size_t count);
    void AppendUnits(TextView text);
    std::size_t Capacity() const { return console_ ? kBufferSize / 2 : kBufferSize; }
    bool WriteBuffer();

    bool open_ = false;
    bool console_ = false;
    OsHandle handle_ = 0;
    // The line so far: bytes for a file or a pipe, UTF-16 for a console.
    char buffer_[kBufferSize] = {};
    char16_t units_[kBufferSize / 2] = {};
    std::size_t used_ = 0;
    std::int32_t status_ = 0;
};

extern OutputStream StdOut;
