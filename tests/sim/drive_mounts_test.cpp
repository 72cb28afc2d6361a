#include "mounts/drive_allocation_lock.hpp"
#include "mounts/drive_mapping.hpp"
#include "mounts/mount_record.hpp"
#include "platform/simulated/control.hpp"
#include "sim/fault.hpp"
#include "sim/sim_fixture.hpp"

#include <gtest/gtest.h>

#include <thread>

namespace {

using Strings = std::vector<std::string>;

const WideString PROJECT = to_wide("\\\\?\\C:\\work\\proj");
const WideString SCRATCH = to_wide("\\\\?\\C:\\work\\scr");

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

void define_letters(char from, char to) {
    for (char letter = from; letter <= to; ++letter) {
        sim::define_dos_device(std::string{letter, ':'}, "\\??\\C:\\elsewhere");
    }
}

} // namespace

TEST_F(DriveMounts, TakesTheHighestFreeLettersAndRemovesExactlyItsOwn) {
    sim::clear_journal();
    {
        DriveMapping project = allocate(PROJECT);
        DriveMapping scratch = allocate(SCRATCH);
        EXPECT_EQ(project.drive(), "Z:");
        EXPECT_EQ(project.target(), "\\??\\C:\\work\\proj");
        EXPECT_EQ(mount_root(project), "Z:\\");
        EXPECT_EQ(scratch.drive(), "Y:");
        EXPECT_EQ(scratch.target(), "\\??\\C:\\work\\scr");
        // A move hands the definition over; it is still removed once.
        DriveMapping moved = std::move(project);
        EXPECT_EQ(moved.drive(), "Z:");
    }
    EXPECT_EQ(sim::journal(), (Strings{
                                  "QueryDosDeviceW Z: 4",
                                  "DefineDosDeviceW 0x9 Z: \\??\\C:\\work\\proj",
                                  "QueryDosDeviceW Z: 4",
                                  "QueryDosDeviceW Y: 4",
                                  "DefineDosDeviceW 0x9 Y: \\??\\C:\\work\\scr",
                                  "DefineDosDeviceW 0xf Z: \\??\\C:\\work\\proj",
                                  "DefineDosDeviceW 0xf Y: \\??\\C:\\work\\scr",
                              }));
    EXPECT_TRUE(sim::defined_letters().empty());
}

TEST_F(DriveMounts, PassesOverLettersInUseOrRefused) {
    sim::define_dos_device("Z:", "\\??\\D:\\other");
    sim::inject(fault_for("DefineDosDeviceW", "X:", 0, 5));
    sim::inject(fault_for("QueryDosDeviceW", "W:", 0, 5));
    const DriveMapping project = allocate(PROJECT);
    const DriveMapping scratch = allocate(SCRATCH);
    EXPECT_EQ(project.drive(), "Y:");
    EXPECT_EQ(scratch.drive(), "V:");
}

TEST_F(DriveMounts, FailsWhenNoLetterFromZToDCanBeDefined) {
    const char* const message = "no DOS drive slot is available for the native sandbox";
    define_letters('D', 'Z'); // only C:, B: and A: are left, and C: is a volume
    auto mapping = allocate_drive_mapping(PROJECT);
    ASSERT_FALSE(mapping);
    EXPECT_EQ(mapping.error().message, message);
    EXPECT_EQ(sim::journal_of("DefineDosDeviceW").size(), 0U);
    EXPECT_EQ(sim::journal_of("QueryDosDeviceW").back(), "QueryDosDeviceW D: 4");

    sim::reset();
    for (char letter = 'D'; letter <= 'Z'; ++letter) {
        sim::inject(fault_for("DefineDosDeviceW", std::string{letter, ':'}, 0, 5));
    }
    mapping = allocate_drive_mapping(PROJECT);
    ASSERT_FALSE(mapping);
    EXPECT_EQ(mapping.error().message, message);
    EXPECT_EQ(sim::journal_of("DefineDosDeviceW").size(), 23U);
    EXPECT_TRUE(sim::defined_letters().empty());
}

TEST_F(DriveMounts, RefusesWhatIsNotALocalDrivePathBeforeAnyQuery) {
    for (const char* directory : {"\\\\?\\UNC\\server\\share\\dir", "\\\\?\\C", ""}) {
        const auto mapping = allocate_drive_mapping(to_wide(directory));
        ASSERT_FALSE(mapping) << directory;
        EXPECT_EQ(mapping.error().message, "Windows sandbox mounts must use local drive paths");
    }
    EXPECT_TRUE(sim::journal_of("QueryDosDeviceW").empty());
}

TEST_F(DriveMounts, MapsADriveRootAndReachesTheTargetThroughTheLetter) {
    sim::make_file("C:\\work\\proj\\a.txt", "hello");
    const DriveMapping root = allocate(to_wide("\\\\?\\C:\\"));
    const DriveMapping project = allocate(PROJECT);
    EXPECT_EQ(root.target(), "\\??\\C:\\");
    EXPECT_EQ(sim::file_content("Y:\\a.txt"), "hello");
    EXPECT_EQ(sim::file_content("Z:\\work\\proj\\a.txt"), "hello");
}

TEST_F(DriveMounts, RemovalLeavesADefinitionWithAnotherTarget) {
    {
        const DriveMapping project = allocate(PROJECT);
        sim::define_dos_device("Z:", "\\??\\D:\\theirs"); // stacked on top of ours
    }
    EXPECT_EQ(sim::dos_device_targets("Z:"), Strings{"\\??\\D:\\theirs"});

    sim::reset();
    {
        const DriveMapping project = allocate(PROJECT);
        ASSERT_TRUE(DefineDosDeviceW(DDD_REMOVE_DEFINITION, to_wide("Z:").c_str(), nullptr));
        SetLastError(1234);
    } // already gone: nothing to report, and the last error stays
    EXPECT_EQ(GetLastError(), 1234U);
    EXPECT_TRUE(sim::defined_letters().empty());
}

class AllocationLock : public DriveMounts {};

TEST_F(AllocationLock, IsHeldUntilReleased) {
    auto lock = DriveAllocationLock::acquire();
    ASSERT_TRUE(lock) << lock.error().message;
    EXPECT_EQ(sim::owned_mutexes(), Strings{DRIVE_ALLOCATION_MUTEX});
    lock->release();
    lock->release();
    EXPECT_TRUE(sim::owned_mutexes().empty());
    EXPECT_TRUE(sim::open_handles().empty());
    EXPECT_EQ(sim::journal(), (Strings{
                                  "CreateMutexW Local\\Norix.NativeSandbox.DriveAllocation",
                                  "WaitForSingleObject mutex",
                                  "ReleaseMutex",
                                  "CloseHandle mutex",
                              }));
}

TEST_F(AllocationLock, AWaiterTakesOverALockWhoseHolderDied) {
    const auto other = sim::start_launcher();
    {
        const sim::ProcessScope scope(other);
        const HANDLE held = CreateMutexW(nullptr, FALSE, to_wide(DRIVE_ALLOCATION_MUTEX).c_str());
        ASSERT_EQ(WaitForSingleObject(held, INFINITE), WAIT_OBJECT_0);
    }
    Result<DriveAllocationLock> lock = failure("not acquired");
    Strings owned;
    std::thread waiter([&] {
        lock = DriveAllocationLock::acquire();
        owned = sim::owned_mutexes();
    });
    while (sim::journal_of("WaitForSingleObject").size() < 2) {
        std::this_thread::yield();
    }
    sim::end_launcher(other);
    waiter.join();
    ASSERT_TRUE(lock) << lock.error().message;
    EXPECT_EQ(owned, Strings{DRIVE_ALLOCATION_MUTEX});
}

TEST_F(AllocationLock, FailedCreateAndFailedWait) {
    sim::inject(fault_on("CreateMutexW", 0, 5));
    auto lock = DriveAllocationLock::acquire();
    ASSERT_FALSE(lock);
    EXPECT_EQ(lock.error().message, "cannot create sandbox allocation lock: Win32 5");
    EXPECT_TRUE(sim::journal_of("CloseHandle").empty());

    struct Case {
        std::uint64_t wait_result;
        const char* message;
    };
    for (const Case c : {Case{WAIT_FAILED, "cannot acquire sandbox allocation lock: 4294967295"},
                         Case{WAIT_TIMEOUT, "cannot acquire sandbox allocation lock: 258"}}) {
        sim::clear_journal();
        sim::inject(fault_on("WaitForSingleObject", c.wait_result, 6));
        lock = DriveAllocationLock::acquire();
        ASSERT_FALSE(lock);
        EXPECT_EQ(lock.error().message, c.message);
        EXPECT_EQ(sim::journal().back(), "CloseHandle mutex");
        EXPECT_TRUE(sim::open_handles().empty());
    }
}

TEST_F(AllocationLock, TwoLaunchersAllocatingAtOnceGetFourLetters) {
    auto lock = DriveAllocationLock::acquire();
    ASSERT_TRUE(lock);
    const auto other = sim::start_launcher();
    Strings other_letters;
    std::thread second([&] {
        const sim::ProcessScope scope(other);
        auto their_lock = DriveAllocationLock::acquire();
        const DriveMapping project = allocate(PROJECT);
        const DriveMapping scratch = allocate(SCRATCH);
        their_lock->release();
        other_letters = {project.drive(), scratch.drive()};
    });
    // The other launcher is waiting for the lock before this one allocates.
    while (sim::journal_of("WaitForSingleObject").size() < 2) {
        std::this_thread::yield();
    }
    const DriveMapping project = allocate(PROJECT);
    const DriveMapping scratch = allocate(SCRATCH);
    EXPECT_EQ(sim::defined_letters(), (Strings{"Y:", "Z:"}));
    lock->release();
    second.join();
    EXPECT_EQ(project.drive(), "Z:");
    EXPECT_EQ(scratch.drive(), "Y:");
    EXPECT_EQ(other_letters, (Strings{"X:", "W:"}));
}

class MountRecordFile : public DriveMounts {
protected:
    static constexpr const char* RECORD = "C:\\work\\.scr.norix-native-sandbox-mounts";
};

TEST_F(MountRecordFile, NamesTheFileBesideTheScratchDirectory) {
    struct Case {
        const char* scratch;
        const char* record_or_failure;
    };
    const Case cases[] = {
        {"\\\\?\\C:\\work\\scr", "\\\\?\\C:\\work\\.scr.norix-native-sandbox-mounts"},
        {"\\\\?\\C:\\work\\my.scr", "\\\\?\\C:\\work\\.my.scr.norix-native-sandbox-mounts"},
        {"\\\\?\\C:\\My Scr", "\\\\?\\C:\\.My Scr.norix-native-sandbox-mounts"},
        {"\\\\?\\UNC\\srv\\share\\s", "\\\\?\\UNC\\srv\\share\\.s.norix-native-sandbox-mounts"},
        {"\\\\?\\C:\\", "sandbox scratch path has no parent"},
        {"\\\\?\\C:", "sandbox scratch path has no parent"},
        {"scr", "sandbox scratch path has no parent"},
        {"\\\\?\\C:\\work\\..", "sandbox scratch path has no UTF-8 name"},
    };
    for (const auto& c : cases) {
        const auto record = MountRecord::for_scratch(to_wide(c.scratch));
        EXPECT_EQ(record ? to_utf8(record->record_path()) : record.error().message,
                  c.record_or_failure)
            << c.scratch;
    }
    WideString unpaired = to_wide("\\\\?\\C:\\work\\s");
    unpaired.push_back(WCHAR(0xD800));
    const auto record = MountRecord::for_scratch(unpaired);
    ASSERT_FALSE(record);
    EXPECT_EQ(record.error().message, "sandbox scratch path has no UTF-8 name");
    EXPECT_TRUE(sim::journal_of("CreateFileW").empty()); // forming the path reads no disk
}

TEST_F(MountRecordFile, WritesTheFourFieldsAndDeletesTheFileAtRelease) {
    sim::make_file(RECORD, "left behind by a run that was cut off, and longer");
    {
        const auto record = MountRecord::for_scratch(SCRATCH);
        ASSERT_TRUE(record);
        const DriveMapping project = allocate(PROJECT);
        const DriveMapping scratch = allocate(SCRATCH);
        ASSERT_TRUE(record->write(project, scratch));
        const std::string expected("Z:\0\\??\\C:\\work\\proj\0Y:\0\\??\\C:\\work\\scr\0", 39);
        EXPECT_EQ(sim::file_content(RECORD), expected);
        EXPECT_TRUE(sim::open_handles().empty());
    }
    EXPECT_FALSE(sim::path_exists(RECORD));
}

TEST_F(MountRecordFile, ReportsARefusedWrite) {
    const DriveMapping project = allocate(PROJECT);
    const DriveMapping scratch = allocate(SCRATCH);
    const auto record = MountRecord::for_scratch(SCRATCH);
    ASSERT_TRUE(record);

    sim::deny_access("C:\\work");
    auto written = record->write(project, scratch);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().message,
              "cannot write sandbox mount record: Access is denied. (os error 5)");

    sim::reset();
    sim::make_directory("C:\\work\\scr");
    sim::inject(fault_on("WriteFile", 0, 112));
    written = record->write(project, scratch);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().message, "cannot write sandbox mount record: There is not enough "
                                       "space on the disk. (os error 112)");
    // A write that takes nothing but reports success, leaving a stale last-error value.
    sim::inject(fault_on("WriteFile", TRUE, 5));
    written = record->write(project, scratch);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().message, "cannot write sandbox mount record: The system cannot "
                                       "write to the specified device. (os error 29)");
    EXPECT_TRUE(sim::open_handles().empty());
}

TEST_F(MountRecordFile, ReleaseDeletesAnyFileThereAndKeepsTheLastError) {
    sim::make_file(RECORD, "not written by this run");
    SetLastError(1234);
    {
        auto record = MountRecord::for_scratch(SCRATCH);
        ASSERT_TRUE(record);
        MountRecord moved = std::move(*record);
    }
    EXPECT_FALSE(sim::path_exists(RECORD));
    EXPECT_EQ(sim::journal_of("DeleteFileW").size(), 1U);
    {
        const auto record = MountRecord::for_scratch(SCRATCH); // no file: the failure is ignored
    }
    EXPECT_EQ(GetLastError(), 1234U);
}
