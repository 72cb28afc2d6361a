// Reading a mount record: any bytes in, the two mounts or the one failure out, and bytes that are
// accepted are exactly what the launcher writes for the mounts read back: four fields, each with
// its NUL, nothing before, between or after them.
#include "fuzz_input.hpp"
#include "mounts/record_format.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto mounts = parse_mount_record(bytes);
    if (!mounts) {
        if (mounts.error().message != "malformed mount record") {
            fuzz_failure("unknown failure " + mounts.error().message);
        }
        return 0;
    }
    std::string written;
    for (const RecordedMount& mount : *mounts) {
        written += mount.drive + '\0' + mount.target + '\0';
    }
    if (written != bytes) {
        fuzz_failure("the accepted bytes are not the record of what was read");
    }
    return 0;
}
