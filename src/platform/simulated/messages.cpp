// Texts: FormatMessageW with the English messages of Windows, and the ordinal comparison.
#include "platform/simulated/world.hpp"

#include <algorithm>

using namespace sim::detail;

namespace {

const char* message_text(DWORD code) {
    switch (code) {
    case 0:
        return "The operation completed successfully.";
    case 1:
        return "Incorrect function.";
    case 2:
        return "The system cannot find the file specified.";
    case 3:
        return "The system cannot find the path specified.";
    case 5:
        return "Access is denied.";
    case 6:
        return "The handle is invalid.";
    case 8:
        return "Not enough memory resources are available to process this command.";
    case 29:
        return "The system cannot write to the specified device.";
    case 32:
        return "The process cannot access the file because it is being used by another process.";
    case 50:
        return "The request is not supported.";
    case 53:
        return "The network path was not found.";
    case 67:
        return "The network name cannot be found.";
    case 80:
        return "The file exists.";
    case 87:
        return "The parameter is incorrect.";
    case 112:
        return "There is not enough space on the disk.";
    case 122:
        return "The data area passed to a system call is too small.";
    case 123:
        return "The filename, directory name, or volume label syntax is incorrect.";
    case 145:
        return "The directory is not empty.";
    case 161:
        return "The specified path is invalid.";
    case 183:
        return "Cannot create a file when that file already exists.";
    case 203:
        return "The system could not find the environment option that was entered.";
    case 267:
        return "The directory name is invalid.";
    case 1314:
        return "A required privilege is not held by the client.";
    case 1921:
        return "The name of the file cannot be resolved by the system.";
    default:
        return nullptr;
    }
}

} // namespace

DWORD FormatMessageW(DWORD /*flags*/, LPCVOID /*source*/, DWORD message_id, DWORD /*language_id*/,
                     LPWSTR buffer, DWORD size, void* /*arguments*/) {
    Guard guard;
    const char* text = message_text(message_id);
    if (text == nullptr) {
        set_last_error(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    const std::u16string message = utf16(text) + u"\r\n";
    if (message.size() + 1 > size) {
        set_last_error(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    put_text(message, buffer);
    return static_cast<DWORD>(message.size());
}
