// A project directory against the folders of the system and of the user: each refused root with
// its nearest allowed neighbour, folders found where the system says they are, and what happens
// when the system lacks a folder or cannot say where it is.
#include "paths/protected_folders.hpp"
#include "paths/sandbox_mount.hpp"
#include "sim/sim_fixture.hpp"

#include <functional>

namespace {

const std::string CURRENT_VERSION = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const std::string LONG = "C:\\" + std::string(270, 'x');
const std::string PROFILE_LIST = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// The directory, as typed (made when missing), and the check's failure, empty when it passes.
struct FolderRow {
    const char* name;
    std::string directory;
    std::string failure;
    std::function<void()> arrange = [] {};
};

std::string covers(const std::string& directory, const std::string& why) {
    return "sandbox mount covers a protected system or profile folder: " + directory + " (" + why +
           ")";
}

void program_files(const char* value, std::optional<std::string> folder) {
    sim::set_registry_value(CURRENT_VERSION, value,
                            folder ? std::optional<sim::RegistryText>({.text = *folder})
                                   : std::nullopt);
}

// A row to a line or two reads as a table:
// clang-format off
const FolderRow FOLDERS[] = {
    {"SystemVolumeRoot", "C:\\", covers("C:\\", "the system volume's root")},
    {"OtherVolumeRoot", "D:\\", ""},
    {"WindowsDirectory", "c:/WINDOWS", covers("C:\\Windows", "the Windows directory")},
    {"InsideTheWindowsDirectory", "C:\\Windows\\System32",
     covers("C:\\Windows\\System32", "inside the Windows directory")},
    {"WindowsNeighbour", "C:\\Windows2", ""},
    // Each of the three values counts.
    {"ProgramFiles", "C:\\Program Files", covers("C:\\Program Files", "a Program Files directory"),
     [] { program_files("ProgramW6432Dir", std::nullopt); }},
    {"InsideProgramFilesX86", "C:\\Program Files (x86)\\Tool",
     covers("C:\\Program Files (x86)\\Tool", "inside a Program Files directory")},
    {"ProgramData", "C:\\ProgramData", covers("C:\\ProgramData", "the ProgramData directory")},
    {"InsideProgramData", "C:\\ProgramData\\cache", ""},
    {"ProfilesFolder", "C:\\Users", covers("C:\\Users", "the user profiles folder")},
    {"ProfileSubfolder", "C:\\Users\\me\\src\\proj", ""},
    {"ProfileNeighbour", "C:\\Users\\me2", ""},
    {"LinkIntoTheProfile", "C:\\Work\\Home", covers("C:\\Users\\me", "the calling user's profile"),
     [] { sim::make_junction("C:\\Work\\Home", "C:\\Users\\me"); }},
    {"HoldsAProgramFilesDirectory", "D:\\", covers("D:\\", "holds a Program Files directory"),
     [] { sim::make_directory("D:\\Apps"); program_files("ProgramW6432Dir", "D:\\Apps"); }},
    // "%SystemDrive%" is the drive of the Windows directory, whatever its case.
    {"ProgramDataOnTheWindowsDrive", "D:\\ProgramData",
     covers("D:\\ProgramData", "the ProgramData directory"),
     [] { sim::make_directory("D:\\Windows"); sim::set_system_folders({.windows = "D:\\Windows"});
          sim::set_registry_value(PROFILE_LIST, "ProgramData", sim::RegistryText{
                                      .type = 2, .text = "%systemdrive%\\ProgramData"}); }},
    // No value, and a value naming no directory: neither protects anything.
    {"FoldersTheSystemLacks", "C:\\Program Files (x86)\\Tool", "",
     [] { program_files("ProgramFilesDir (x86)", {});
          program_files("ProgramW6432Dir", "C:\\Gone"); }},
    // Each folder longer than the first buffer.
    {"LongFolders", LONG + "\\me", covers(LONG + "\\me", "the calling user's profile"),
     [] { sim::make_directory(LONG + "\\Windows"); sim::make_directory(LONG + "\\PF");
          program_files("ProgramFilesDir (x86)", LONG + "\\PF");
          sim::set_system_folders({.windows = LONG + "\\Windows", .profiles = LONG,
                                   .user_profile = LONG + "\\me"}); }},
    // A folder the system cannot name, or names unusably, leaves the check undone.
    {"WindowsDirectoryUnknown", "C:\\Work", "cannot locate the Windows directory: Win32 5",
     [] { sim::inject(fault_on("GetSystemWindowsDirectoryW", 0, 5)); }},
    {"ProfileUnknown", "C:\\Work", "cannot locate the calling user's profile: Win32 1314",
     [] { sim::inject(fault_on("GetUserProfileDirectoryW", 0, 1314)); }},
    {"RegistryUnreadable", "C:\\Work", "cannot locate the ProgramData directory: Win32 5",
     [] { sim::inject(fault_for("RegGetValueW", "ProgramData", 5)); }},
    {"RelativeValue", "C:\\Work", "cannot locate a Program Files directory: Win32 161",
     [] { program_files("ProgramFilesDir (x86)", "Program Files (x86)"); }},
    {"ProfilesFolderUnresolvable", "C:\\Work",
     "cannot resolve the user profiles folder C:\\Users: Access is denied. (os error 5)",
     [] { sim::deny_access("C:\\Users"); }},
};
// clang-format on

class ProtectedFolder : public SimulatedWindows, public ::testing::WithParamInterface<FolderRow> {};

TEST_P(ProtectedFolder, RefusedOrAllowed) {
    const FolderRow& row = GetParam();
    sim::add_volume('D');
    sim::make_directory("C:\\Work\\Scratch");
    row.arrange();
    if (!sim::path_exists(row.directory)) {
        sim::make_directory(row.directory);
    }
    const auto project = resolve_sandbox_mount(to_wide(row.directory));
    const auto scratch = resolve_sandbox_mount(to_wide("C:\\Work\\Scratch"));
    ASSERT_TRUE(project && scratch);
    const auto checked = check_unprotected_mounts(*project, *scratch);
    EXPECT_EQ(checked ? "" : checked.error().message, row.failure);
}

INSTANTIATE_TEST_SUITE_P(Folders, ProtectedFolder, ::testing::ValuesIn(FOLDERS),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
