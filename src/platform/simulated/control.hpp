// The simulated Windows as tests see it: set up a machine, inject faults, read the journal of
// calls and the census of what is still open. Every test starts from sim::reset().
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

using Dword = std::uint32_t;

// A fresh machine: volume C: holding C:\Windows\System32, C:\Program Files,
// C:\Program Files (x86), C:\ProgramData and C:\Users\me (see SystemFolders); the launcher
// process (current directory C:\, an environment with SystemRoot, ProgramFiles and
// ProgramFiles(x86)); standard input, output and error three pipes, none of them inheritable;
// empty journal.
void reset();

// Makes one call of `function` fail: the `call`-th call from now whose key argument (the path,
// name or device the journal shows) equals `argument`, or any call when `argument` is empty. The
// call returns `result` (as the function's return type) and sets the last error to `error`.
// Functions that return their error code (the ACL functions, the HRESULTs) return `result`; the
// functions that free (LocalFree, FreeSid) return what they were given and free nothing.
struct Fault {
    std::string function;
    unsigned call = 1;
    std::string argument;
    std::uint64_t result = 0;
    Dword error = 0;
};
void inject(Fault fault);
// How many injected faults have not fired yet.
std::size_t pending_faults();

// The calls in order, each "Function key-arguments", e.g. "CreateFileW \\?\C:\Work".
const std::vector<std::string>& journal();
std::vector<std::string> journal_of(std::string_view function);
void clear_journal();

// Files. Paths are full Win32 paths in UTF-8 ("C:\Work\Proj", "\\server\share\dir").
void add_volume(char letter);
void add_share(std::string_view server, std::string_view share);
void make_directory(std::string_view path); // with every missing parent
void make_file(std::string_view path, std::string_view content = {});
void make_symlink(std::string_view path, std::string_view target);  // target absolute or relative
void make_junction(std::string_view path, std::string_view target); // target absolute
// A symbolic link made for a file (make_symlink's are made for directories).
void make_file_symlink(std::string_view path, std::string_view target);
// One more name of an existing file.
void make_hard_link(std::string_view path, std::string_view existing);
void deny_access(std::string_view path, Dword error = 5); // opening it fails
std::optional<std::string> file_content(std::string_view path);
bool path_exists(std::string_view path);
void set_current_directory(std::string_view path);

// The folders Windows names: the Windows directory (GetSystemWindowsDirectoryW), the folder that
// holds the user profiles (GetProfilesDirectoryW) and the profile of the launcher's user
// (GetUserProfileDirectoryW of its token). A fresh machine has C:\Windows, C:\Users and
// C:\Users\me, and C:\ProgramData.
struct SystemFolders {
    std::string windows = "C:\\Windows";
    std::string profiles = "C:\\Users";
    std::string user_profile = "C:\\Users\\me";
};
void set_system_folders(const SystemFolders& folders); // names only: makes no directory

// A text value in the registry under HKEY_LOCAL_MACHINE, or none. A fresh machine has the values
// of a 64-bit Windows: under "SOFTWARE\Microsoft\Windows\CurrentVersion" ProgramFilesDir and
// ProgramW6432Dir "C:\Program Files", "ProgramFilesDir (x86)" "C:\Program Files (x86)"
// (REG_SZ); under "SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList" ProgramData
// "%SystemDrive%\ProgramData" (REG_EXPAND_SZ).
struct RegistryText {
    Dword type = 1; // REG_SZ; 2 for REG_EXPAND_SZ
    std::string text;
};
void set_registry_value(std::string_view key, std::string_view name,
                        std::optional<RegistryText> value);

// DOS devices. Letters of volumes are defined at start and protected from redefinition.
void define_dos_device(std::string_view device, std::string_view target);
std::vector<std::string> dos_device_targets(std::string_view device); // newest first
std::vector<std::string> defined_letters(); // defined beyond the volumes' own letters

// The launcher's environment block, "NAME=value" entries in block order.
void set_environment(const std::vector<std::string>& entries);
std::vector<std::string> environment();

// Standard error of the launcher: a console, a pipe, a file, a character device that is no console
// (NUL: GetFileType gives FILE_TYPE_CHAR, console calls fail), or none at all.
enum class StreamKind { Console, Pipe, File, Device };
// `capacity`: when set, each write takes at most that many bytes (see WriteFile on a pipe).
void set_stderr(std::optional<StreamKind> kind, Dword write_error = 0, std::size_t capacity = 0);
std::string stderr_text();
// Standard input and output are pipes that nothing reads; SetStdHandle, as on Windows, puts
// another handle (or null, or INVALID_HANDLE_VALUE) in place of any of the three.

// More launchers: a process like the first one (same volumes, its own environment copy, handles
// and standard streams). A thread acts as that process while a ProcessScope for it lives; without
// one it is the first launcher (pid 1).
Dword start_launcher();
class ProcessScope {
public:
    explicit ProcessScope(Dword pid);
    ~ProcessScope();
    ProcessScope(const ProcessScope&) = delete;
    ProcessScope& operator=(const ProcessScope&) = delete;

private:
    Dword previous_;
};

// Moves the machine's clock (GetTickCount64, and the time limits of waits) on by `milliseconds`
// at once; waits whose limit has then passed end with WAIT_TIMEOUT.
void pass_time(Dword milliseconds);

// Ends a launcher started by start_launcher as if it were killed: its handles close, and the
// mutexes it owned are abandoned (the next wait that takes one returns WAIT_ABANDONED).
void end_launcher(Dword pid);

// The names of the mutexes the current launcher owns.
std::vector<std::string> owned_mutexes();

// What the launcher still holds: the kinds of its open handles ("file", "find", ...), and the
// blocks it has not given back (environment blocks, LocalAlloc memory).
std::vector<std::string> open_handles();
std::size_t unfreed_blocks();

// Security. The launchers run as this user.
inline constexpr const char* USER_SID = "S-1-5-21-1004336348-1177238915-682003330-1001";
// SIDs are handed out by the AppContainer functions and counted until FreeSid.
std::size_t unfreed_sids();
// The SID an AppContainer profile of this name has (case does not matter), made or not.
std::string app_container_sid(std::string_view profile);

// One access-allowed entry of a DACL. A volume's root allows BUILTIN\Administrators, and new
// files and directories inherit what their parent passes on.
struct AccessEntry {
    std::string trustee; // SID text
    Dword mask = 0;
    Dword inheritance = 0;
    bool inherited = false;
    bool operator==(const AccessEntry&) const = default;
};
// Nothing for a null DACL (everyone has every access).
std::optional<std::vector<AccessEntry>> dacl_entries(std::string_view path);

// Child processes. A program is a callback registered at a path (a file is made there); it runs
// on its own thread once its process is resumed, acting as that process, and its result is the
// exit code.
struct ChildView {
    Dword pid = 0;
    std::vector<std::string> argv; // split by the C runtime rules
    std::string current_directory;
    std::string app_container_sid; // empty outside an AppContainer
    const void* std_handles[3] = {nullptr, nullptr, nullptr};
    bool in_kill_on_close_job = false;
};
using Program = std::function<Dword(const ChildView&)>;
void register_program(std::string_view path, Program program);
// Called by a running program: a child of it, in its job, that runs until something ends it.
Dword start_descendant();
// Called by a running program: returns once its process has been ended (by its job, by
// TerminateProcess or by a console event), as a program that never exits by itself.
void run_until_ended();
// The processes started in this machine (children and descendants) that have not ended.
std::vector<Dword> live_processes();
// Job objects that still have a handle.
std::size_t live_jobs();

// Console control events (CTRL_C_EVENT, CTRL_BREAK_EVENT, CTRL_CLOSE_EVENT ...), as Windows
// delivers them, on a thread of their own. Every process that has started on the launcher's
// console, children and descendants, ends with STATUS_CONTROL_C_EXIT as Windows' default handler
// ends it, unless it ignores events; then, on that thread acting as the launcher, its handlers
// are called, newest first, until one returns TRUE (when none does, the default handler ends the
// launcher as end_launcher does). After CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT and
// CTRL_SHUTDOWN_EVENT Windows ends the launcher once its handler returns: `at_end` runs at that
// moment, on that thread, to see what is left; the model lets the launcher go on. Returns once
// the handlers have returned or wait.
void send_console_event(Dword type, std::function<void()> at_end = {});
// The same, sent when the `call`-th call of `function` from now has returned, by the thread that
// made it.
void send_console_event_after(std::string function, unsigned call, Dword type,
                              std::function<void()> at_end = {});
// Waits until every delivery has ended, its handlers returned.
void finish_console_events();
// Called by a running program: console events leave it running, as a handler of its own that
// returns TRUE does (for the events after which Windows ends processes, for the grace Windows
// gives that handler).
void ignore_console_events();

} // namespace sim
