#pragma once

#include <stdexcept>
#include <string>

// The program's general error: one message text, shown to the user as it stands.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& Message) : std::runtime_error(Message) {}
    std::string Message() const { return what(); }
};

// A file that holds too little MPEG audio to be opened as a source: not
// something preparing a copy of it could mend.
class ENotMpegAudio : public Exception {
public:
    using Exception::Exception;
};

// An operating-system call failed. The message names the error code and the
// system's text for it, as every front end shows it.
class EOSError : public Exception {
public:
    explicit EOSError(int Code);
    // The same text with a last line naming the file the call was about.
    EOSError(int Code, const std::string& FileName);
    int Code() const { return FCode; }

private:
    int FCode;
};

// The system's text for an error code; the file layer's sharing violation
// gets a text of its own.
std::string SysErrorMessage(int Code);

// Raises EOSError for the calling thread's current errno.
[[noreturn]] void RaiseLastOSError();
// The same for a call about FileName, which the message names.
[[noreturn]] void RaiseLastOSError(const std::string& FileName);

// A fixed first line followed by the cause: the system's text for Code on
// the next line ("Cannot create file x.mp3" + "\n" + "Permission denied").
std::string WithCause(const std::string& Text, int Code);

// "%s"-style formatting for the few messages that embed a name.
std::string FormatMessage(const char* Format, const std::string& Arg);
