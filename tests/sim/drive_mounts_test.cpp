// Drive letters, the mount record and the allocation lock, each on its own; the run has their
// calls and how each fails inside a run.
#include "mounts/drive_allocation_lock.hpp"
#include "mounts/drive_mapping.hpp"
#include "mounts/mount_record.hpp"
#include "sim/sim_fixture.hpp"

namespace {

const WideString PROJECT = to_wide("\\\\?\\C:\\work\\proj");
const WideString SCRATCH = to_wide("\\\\?\\C:\\work\\scr");
constexpr const char* RECORD = "C:\\work\\.scr.norix-native-sandbox-mounts";

class DriveMounts : public SimulatedWindows {
protected:
    void SetUp() override {
        SimulatedWindows::SetUp();
        sim::make_directory("C:\\work\\proj");
        sim::make_directory("C:\\work\\scr");
    }
};

DriveMapping allocate(const WideString& directory) {
    auto mapping = allocate_drive_mapping(directory);
    if (!mapping) {
        throw std::runtime_error(mapping.error().message);
    }
    return std::move(*mapping);
}

std::string drive_or_failure(const WideString& directory) {
    const auto mapping = allocate_drive_mapping(directory);
    return mapping ? mapping->drive() : mapping.error().message;
}

TEST_F(DriveMounts, PassesOverLettersInUseOrRefused) {
    sim::define_dos_device("Z:", "\\??\\D:\\other");
    sim::inject(fault_for("DefineDosDeviceW", "X:", 0, 5));
    sim::inject(fault_for("QueryDosDeviceW", "W:", 0, 5));
    // Only a failed query that says 2 makes a letter free, not a stale 2 after a success.
    sim::inject(fault_for("QueryDosDeviceW", "V:", 3, 2));
    DriveMapping project = allocate(PROJECT);
    EXPECT_EQ(mount_root(project), "Y:\\");
    EXPECT_EQ(drive_or_failure(SCRATCH), "U:");
    const DriveMapping moved = std::move(project); // removed once, by the last owner
    EXPECT_EQ(moved.target(), "\\??\\C:\\work\\proj");
    EXPECT_EQ(allocate(to_wide("\\\\?\\C:\\")).target(), "\\??\\C:\\");
}

TEST_F(DriveMounts, FailsWhenNoLetterFromZToDCanBeDefined) {
    for (char letter = 'D'; letter <= 'Z'; ++letter) {
        sim::inject(fault_for("DefineDosDeviceW", std::string{letter, ':'}, 0, 5));
    }
    EXPECT_EQ(drive_or_failure(PROJECT), "no DOS drive slot is available for the native sandbox");
    EXPECT_EQ(sim::journal_of("DefineDosDeviceW").size(), 23U);
    EXPECT_EQ(sim::journal_of("QueryDosDeviceW").back(), "QueryDosDeviceW D: 4");
    for (const char* directory : {"\\\\?\\UNC\\server\\share\\dir", "\\\\?\\C", ""}) {
        EXPECT_EQ(drive_or_failure(to_wide(directory)),
                  "Windows sandbox mounts must use local drive paths");
    }
    EXPECT_EQ(sim::journal_of("QueryDosDeviceW").size(), 23U);
}

TEST_F(DriveMounts, RemovalLeavesADefinitionWithAnotherTargetAndTheLastError) {
    {
        const DriveMapping project = allocate(PROJECT);
        sim::define_dos_device("Z:", "\\??\\D:\\theirs"); // stacked on top of ours
        const DriveMapping scratch = allocate(SCRATCH);
        ASSERT_TRUE(DefineDosDeviceW(DDD_REMOVE_DEFINITION, to_wide("Y:").c_str(), nullptr));
        SetLastError(1234);
    }
    EXPECT_EQ(sim::dos_device_targets("Z:"), Strings{"\\??\\D:\\theirs"});
    EXPECT_EQ(sim::dos_device_targets("Y:"), Strings{});
    EXPECT_EQ(GetLastError(), 1234U);
}

TEST_F(DriveMounts, MoveAssignmentReleasesWhatItHeldFirst) {
    DriveMapping mapping = allocate(PROJECT);
    DriveMapping other_mapping = allocate(SCRATCH);
    mapping = std::move(other_mapping);
    auto record = MountRecord::for_scratch(SCRATCH);
    auto other_record = MountRecord::for_scratch(PROJECT);
    *record = std::move(*other_record);
    auto lock = DriveAllocationLock::acquire();
    auto other_lock = DriveAllocationLock::acquire();
    *lock = std::move(*other_lock);
    EXPECT_EQ(
        joined(journal_without(
            {"QueryDosDeviceW", "CreateFileW", "CreateMutexW", "WaitForSingleObject"})),
        R"(DefineDosDeviceW 0x9 Z: \??\C:\work\proj; DefineDosDeviceW 0x9 Y: \??\C:\work\scr; )"
        R"(DefineDosDeviceW 0xf Z: \??\C:\work\proj; )"
        R"(DeleteFileW \\?\C:\work\.scr.norix-native-sandbox-mounts; )"
        "ReleaseMutex; CloseHandle mutex");
    EXPECT_EQ(sim::defined_letters(), Strings{"Y:"});
    EXPECT_EQ(sim::owned_mutexes(), Strings{DRIVE_ALLOCATION_MUTEX});
}

TEST_F(DriveMounts, RecordIsNamedBesideTheScratchDirectory) {
    WideString unpaired = to_wide("\\\\?\\C:\\work\\s");
    unpaired.push_back(WCHAR(0xD800));
    const std::pair<WideString, const char*> cases[] = {
        {SCRATCH, "\\\\?\\C:\\work\\.scr.norix-native-sandbox-mounts"},
        {to_wide("\\\\?\\C:\\My.Scr"), "\\\\?\\C:\\.My.Scr.norix-native-sandbox-mounts"},
        {to_wide("\\\\?\\UNC\\srv\\share\\s"),
         "\\\\?\\UNC\\srv\\share\\.s.norix-native-sandbox-mounts"},
        {to_wide("\\\\?\\C:\\"), "sandbox scratch path has no parent"},
        {to_wide("\\\\?\\C:"), "sandbox scratch path has no parent"},
        {to_wide("scr"), "sandbox scratch path has no parent"},
        {to_wide("\\x"), "\\.x.norix-native-sandbox-mounts"},
        {to_wide("\\\\?\\C:\\work\\.."), "sandbox scratch path has no UTF-8 name"},
        {unpaired, "sandbox scratch path has no UTF-8 name"},
    };
    for (const auto& [scratch, expected] : cases) {
        const auto record = MountRecord::for_scratch(scratch);
        EXPECT_EQ(record ? to_utf8(record->record_path()) : record.error().message, expected)
            << to_utf8(scratch);
    }
    EXPECT_EQ(journal_without({"DeleteFileW"}), Strings{}); // forming the path reads no disk
}

TEST_F(DriveMounts, RecordHoldsTheFourFieldsUntilReleased) {
    sim::make_file(RECORD, "left behind by a run that was cut off, and longer");
    {
        auto record = MountRecord::for_scratch(SCRATCH);
        const DriveMapping project = allocate(PROJECT);
        const DriveMapping scratch = allocate(SCRATCH);
        ASSERT_TRUE(record->write(project, scratch));
        EXPECT_EQ(sim::file_content(RECORD),
                  std::string("Z:\0\\??\\C:\\work\\proj\0Y:\0\\??\\C:\\work\\scr\0", 39));
        EXPECT_EQ(sim::open_handles(), Strings{});
        const MountRecord moved = std::move(*record);
        SetLastError(1234);
    }
    EXPECT_FALSE(sim::path_exists(RECORD));
    { // no file: the failed delete is not reported, and the last error stays
        const auto record = MountRecord::for_scratch(SCRATCH);
    }
    EXPECT_EQ(sim::journal_of("DeleteFileW").size(), 2U);
    EXPECT_EQ(GetLastError(), 1234U);
}

TEST_F(DriveMounts, RecordWriteFailures) {
    const DriveMapping project = allocate(PROJECT);
    const DriveMapping scratch = allocate(SCRATCH);
    const auto record = MountRecord::for_scratch(SCRATCH);
    const std::pair<sim::Fault, const char*> cases[] = {
        {fault_on("WriteFile", 0, 112), "There is not enough space on the disk. (os error 112)"},
        // A write that takes nothing but reports success, leaving a stale last-error value.
        {fault_on("WriteFile", TRUE, 5),
         "The system cannot write to the specified device. (os error 29)"},
    };
    for (const auto& [fault, message] : cases) {
        sim::inject(fault);
        const auto written = record->write(project, scratch);
        EXPECT_EQ(written ? "written" : written.error().message,
                  std::string("cannot write sandbox mount record: ") + message);
        EXPECT_EQ(sim::open_handles(), Strings{});
    }
}

} // namespace
