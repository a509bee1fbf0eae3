#include "Errors.h"

#include "FileAccess.h"

#include <cerrno>
#include <cstring>

namespace {

std::string OSErrorText(int Code) {
    if (Code == 0)
        return "A Win32 API function failed";
    return "Win32 Error.  Code: " + std::to_string(Code) + ".\n" + SysErrorMessage(Code);
}

} // namespace

EOSError::EOSError(int Code) : Exception(OSErrorText(Code)), FCode(Code) {}

std::string SysErrorMessage(int Code) {
    if (Code == ERROR_SHARING_VIOLATION)
        return "The file is in use: it is open elsewhere without sharing this access.";
    return std::strerror(Code);
}

void RaiseLastOSError() {
    throw EOSError(errno);
}

std::string FormatMessage(const char* Format, const std::string& Arg) {
    std::string Result = Format;
    auto At = Result.find("%s");
    if (At != std::string::npos)
        Result.replace(At, 2, Arg);
    return Result;
}
