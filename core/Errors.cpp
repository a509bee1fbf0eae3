#include "Errors.h"

#include "FileAccess.h"

#include <cerrno>
#include <cstring>

namespace {

std::string OSErrorText(int Code) {
    if (Code == 0)
        return "A system function failed";
    return "System error.  Code: " + std::to_string(Code) + ".\n" + SysErrorMessage(Code);
}

} // namespace

EOSError::EOSError(int Code) : Exception(OSErrorText(Code)), FCode(Code) {}

EOSError::EOSError(int Code, const std::string& FileName)
    : Exception(OSErrorText(Code) + "\nFile: " + FileName), FCode(Code) {}

std::string SysErrorMessage(int Code) {
    if (Code == ERROR_SHARING_VIOLATION)
        return "The file is in use: it is open elsewhere without sharing this access.";
    if (Code == ERROR_NOT_A_FILE)
        return "Not a regular file: a pipe, a device or a socket can't be read as an MP3 file.";
    return std::strerror(Code);
}

void RaiseLastOSError() {
    throw EOSError(errno);
}

void RaiseLastOSError(const std::string& FileName) {
    throw EOSError(errno, FileName);
}

std::string WithCause(const std::string& Text, int Code) {
    return Code != 0 ? Text + "\n" + SysErrorMessage(Code) : Text;
}

std::string FormatMessage(const char* Format, const std::string& Arg) {
    std::string Result = Format;
    auto At = Result.find("%s");
    if (At != std::string::npos)
        Result.replace(At, 2, Arg);
    return Result;
}
