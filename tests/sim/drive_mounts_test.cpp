// Drive letters, the mount record and the allocation lock, each on its own; the run has their
// calls and how each fails inside a run.
#include "mounts/drive_mapping.hpp"
#include "mounts/mount_record.hpp"
#include "sim/sim_fixture.hpp"
#include "unit/units.hpp"

namespace {

const WideString PROJECT = to_wide("\\\\?\\C:\\work\\proj");
const WideString SCRATCH = to_wide("\\\\?\\C:\\work\\scr");

using DriveMounts = SimulatedWindows;

TEST_F(DriveMounts, PassesOverLettersInUseOrRefused) {
    sim::define_dos_device("Z:", "\\??\\D:\\other");
    sim::inject(fault_for("DefineDosDeviceW", "Y:", 0, 5));
    // Only a failed query that says 2 makes a letter free, not a stale 2 after a success.
    sim::inject(fault_for("QueryDosDeviceW", "X:", 3, 2));
    const auto project = allocate_drive_mapping(PROJECT);
    EXPECT_EQ(project->drive(), "W:");
}

TEST_F(DriveMounts, RecordIsNamedBesideTheScratchDirectory) {
    const std::pair<WideString, const char*> cases[] = {
        {to_wide("\\\\?\\C:\\"), "sandbox scratch path has no parent"},
        {to_wide("\\\\?\\C:\\work\\.."), "sandbox scratch path has no UTF-8 name"},
        {to_wide("\\\\?\\C:\\work\\s") + units({0xD800}), "sandbox scratch path has no UTF-8 name"},
    };
    for (const auto& [scratch, expected] : cases) {
        const auto record = MountRecord::for_scratch(scratch);
        EXPECT_EQ(record ? to_utf8(record->record_path()) : record.error().message, expected)
            << to_utf8(scratch);
    }
}

// Nothing of the folder's entries: only the user, SYSTEM and the administrators may open it.
TEST_F(DriveMounts, RecordIsForTheUserAlone) {
    sim::make_directory("C:\\work");
    auto record = MountRecord::for_scratch(SCRATCH);
    ASSERT_EQ(record->recover(), std::nullopt);
    ASSERT_TRUE(record->write(*allocate_drive_mapping(PROJECT), *allocate_drive_mapping(SCRATCH)));
    const std::vector<sim::AccessEntry> only_them = {
        {"S-1-5-18", 0x001F01FF}, {"S-1-5-32-544", 0x001F01FF}, {sim::USER_SID, 0x001F01FF}};
    EXPECT_EQ(sim::dacl_entries("C:\\work\\.scr.norix-native-sandbox-mounts"), only_them);
}

} // namespace
