// The drive-letter mounts, the lock and the record on Wine's real Win32. Wine keeps no stacked
// definitions and removes by name alone, so exact-match removal is tested in the host build only.
#include "mounts/drive_allocation_lock.hpp"
#include "mounts/drive_mapping.hpp"
#include "mounts/mount_record.hpp"
#include "paths/path_forms.hpp"
#include "platform.hpp"
#include "temp_directory.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

// The last error of a 4-unit query: 2 for a free letter, 122 for a defined one.
DWORD query_error(const std::string& drive) {
    WCHAR listing[4] = {};
    SetLastError(0);
    return QueryDosDeviceW(to_wide(drive).c_str(), listing, 4) == 0 ? GetLastError() : 0;
}

std::string dos_device_target(const std::string& drive) {
    WCHAR listing[1024] = {};
    if (QueryDosDeviceW(to_wide(drive).c_str(), listing, 1024) == 0) {
        return "query failed " + std::to_string(GetLastError());
    }
    return to_utf8(WideStringView(listing));
}

DriveMapping allocate(const WideString& directory) {
    auto mapping = allocate_drive_mapping(directory);
    if (!mapping) {
        throw std::runtime_error(mapping.error().message);
    }
    return std::move(*mapping);
}

WideString canonical(const std::string& path) {
    return canonical_path(to_wide(path)).value();
}

std::string read_file(const WideString& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return "open failed " + std::to_string(GetLastError());
    }
    std::string content(256, '\0');
    DWORD read = 0;
    ReadFile(file, content.data(), static_cast<DWORD>(content.size()), &read, nullptr);
    CloseHandle(file);
    content.resize(read);
    return content;
}

} // namespace

TEST(WineDosDevices, TakesTheHighestFreeLettersAndLeavesNoDefinition) {
    if (running_on_wine()) {
        // Wine's own Z: (the Linux root) answers the short query as a defined letter.
        ASSERT_EQ(query_error("Z:"), ERROR_INSUFFICIENT_BUFFER);
    }
    std::vector<std::string> free;
    for (char letter = 'Z'; letter >= 'D' && free.size() < 2; --letter) {
        const std::string name{letter, ':'};
        if (query_error(name) == ERROR_FILE_NOT_FOUND) {
            free.push_back(name);
        }
    }
    ASSERT_EQ(free.size(), 2U);
    const TempDirectory temp;
    {
        const DriveMapping project = allocate(canonical("C:\\windows"));
        const DriveMapping scratch = allocate(canonical(temp.make_directory("scr")));
        EXPECT_EQ(project.drive(), free[0]);
        EXPECT_EQ(project.target(), "\\??\\" + display_path(canonical("C:\\windows")));
        EXPECT_EQ(scratch.drive(), free[1]);
        EXPECT_EQ(dos_device_target(free[0]), project.target());
        EXPECT_EQ(dos_device_target(free[1]), scratch.target());
    }
    EXPECT_EQ(query_error(free[0]), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(query_error(free[1]), ERROR_FILE_NOT_FOUND);
}

TEST(WineDosDevices, RecordIsWrittenBesideTheScratchDirectoryAndDeleted) {
    const TempDirectory temp;
    const WideString scratch_path = canonical(temp.make_directory("scr"));
    WideString record_path;
    {
        const auto record = MountRecord::for_scratch(scratch_path);
        ASSERT_TRUE(record) << record.error().message;
        record_path = record->record_path();
        const DriveMapping project = allocate(canonical("C:\\windows"));
        const DriveMapping scratch = allocate(scratch_path);
        ASSERT_TRUE(record->write(project, scratch));
        const std::string expected = project.drive() + '\0' + project.target() + '\0' +
                                     scratch.drive() + '\0' + scratch.target() + '\0';
        EXPECT_EQ(read_file(record_path), expected);
    }
    EXPECT_EQ(GetFileAttributesW(record_path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(WineAllocationLock, ExcludesOtherHoldersUntilReleased) {
    auto lock = DriveAllocationLock::acquire();
    ASSERT_TRUE(lock) << lock.error().message;

    const HANDLE other = CreateMutexW(nullptr, FALSE, to_wide(DRIVE_ALLOCATION_MUTEX).c_str());
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    // A mutex belongs to a thread: another thread of this process cannot take it either.
    const auto try_take = [other] {
        DWORD result = 0;
        std::thread([&] {
            result = WaitForSingleObject(other, 0);
            if (result == WAIT_OBJECT_0) {
                ReleaseMutex(other);
            }
        }).join();
        return result;
    };
    EXPECT_EQ(try_take(), static_cast<DWORD>(WAIT_TIMEOUT));
    lock->release();
    EXPECT_EQ(try_take(), WAIT_OBJECT_0);
    CloseHandle(other);
}
