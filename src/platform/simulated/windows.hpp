// Declarations of the simulated Windows: the names, structure layouts and constant values of the
// Win32 subset that the system uses, for the x64 ABI. Only this header and win32.hpp may be
// included by the system's own code; tests reach the model itself through control.hpp.
#pragma once

#include <cstddef>
#include <cstdint>

using BOOL = int;
using BOOLEAN = unsigned char;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using ULONGLONG = std::uint64_t;
using HRESULT = LONG;
using SIZE_T = std::size_t;
using ULONG_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using PWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using PCWSTR = const WCHAR*;
using LPVOID = void*;
using PVOID = void*;
using LPCVOID = const void*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using PSIZE_T = SIZE_T*;
using HANDLE = void*;
using PHANDLE = HANDLE*;
using HLOCAL = void*;
using HMODULE = void*;
using PSID = void*;
using SECURITY_INFORMATION = DWORD;
using PSECURITY_DESCRIPTOR = void*;
using LSTATUS = LONG;
using HKEY = struct HKEY__*;

#define WINAPI
#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))
#define MAX_PATH 260

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

// Error codes.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_FUNCTION = 1;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_NO_MORE_FILES = 18;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_BAD_NETPATH = 53;
constexpr DWORD ERROR_BAD_NET_NAME = 67;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
constexpr DWORD ERROR_BAD_PATHNAME = 161;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_ENVVAR_NOT_FOUND = 203;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_DIRECTORY = 267;
constexpr DWORD ERROR_NOT_OWNER = 288;
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;
constexpr DWORD ERROR_TIMEOUT = 1460;
constexpr DWORD ERROR_PRIVILEGE_NOT_HELD = 1314;
constexpr DWORD ERROR_UNSUPPORTED_TYPE = 1630;
constexpr DWORD ERROR_CANT_RESOLVE_FILENAME = 1921;

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005U);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057U);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000EU);

// Files.
constexpr DWORD GENERIC_READ = 0x80000000U;
constexpr DWORD GENERIC_WRITE = 0x40000000U;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;
constexpr DWORD FILE_FLAG_OPEN_REPARSE_POINT = 0x00200000;
constexpr DWORD FILE_NAME_NORMALIZED = 0x0;
constexpr DWORD VOLUME_NAME_DOS = 0x0;
constexpr DWORD FILE_TYPE_UNKNOWN = 0;
constexpr DWORD FILE_TYPE_DISK = 1;
constexpr DWORD FILE_TYPE_CHAR = 2;
constexpr DWORD FILE_TYPE_PIPE = 3;

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
};
using LPBY_HANDLE_FILE_INFORMATION = BY_HANDLE_FILE_INFORMATION*;

struct WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];
};

enum FILE_INFO_BY_HANDLE_CLASS { FileDispositionInfo = 4 };

struct FILE_DISPOSITION_INFO {
    BOOLEAN DeleteFile;
};

enum FINDEX_INFO_LEVELS { FindExInfoStandard = 0, FindExInfoBasic = 1 };
enum FINDEX_SEARCH_OPS { FindExSearchNameMatch = 0 };

// Texts.
constexpr int CSTR_LESS_THAN = 1;
constexpr int CSTR_EQUAL = 2;
constexpr int CSTR_GREATER_THAN = 3;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x200;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;

// Standard handles.
constexpr DWORD STD_INPUT_HANDLE = static_cast<DWORD>(-10);
constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
constexpr DWORD STD_ERROR_HANDLE = static_cast<DWORD>(-12);
constexpr DWORD HANDLE_FLAG_INHERIT = 0x1;

// Waits and processes.
constexpr DWORD SYNCHRONIZE = 0x00100000;
constexpr DWORD INFINITE = 0xFFFFFFFFU;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED = 0x80;
constexpr DWORD WAIT_ABANDONED_0 = 0x80;
constexpr DWORD WAIT_TIMEOUT = 0x102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFU;
constexpr DWORD STILL_ACTIVE = 259;
constexpr DWORD STATUS_CONTROL_C_EXIT = 0xC000013AU;
constexpr DWORD CREATE_SUSPENDED = 0x4;
constexpr DWORD EXTENDED_STARTUPINFO_PRESENT = 0x80000;
constexpr DWORD STARTF_USESTDHANDLES = 0x100;
constexpr DWORD_PTR PROC_THREAD_ATTRIBUTE_HANDLE_LIST = 0x20002;
constexpr DWORD_PTR PROC_THREAD_ATTRIBUTE_SECURITY_CAPABILITIES = 0x20009;

struct PROC_THREAD_ATTRIBUTE_LIST;
using LPPROC_THREAD_ATTRIBUTE_LIST = PROC_THREAD_ATTRIBUTE_LIST*;

struct STARTUPINFOW {
    DWORD cb;
    LPWSTR lpReserved;
    LPWSTR lpDesktop;
    LPWSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
};
using LPSTARTUPINFOW = STARTUPINFOW*;

struct STARTUPINFOEXW {
    STARTUPINFOW StartupInfo;
    LPPROC_THREAD_ATTRIBUTE_LIST lpAttributeList;
};

struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};
using LPPROCESS_INFORMATION = PROCESS_INFORMATION*;

struct SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
};
using PSID_AND_ATTRIBUTES = SID_AND_ATTRIBUTES*;

struct SECURITY_CAPABILITIES {
    PSID AppContainerSid;
    PSID_AND_ATTRIBUTES Capabilities;
    DWORD CapabilityCount;
    DWORD Reserved;
};

// Jobs.
enum JOBOBJECTINFOCLASS { JobObjectBasicUIRestrictions = 4, JobObjectExtendedLimitInformation = 9 };
constexpr DWORD JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE = 0x2000;
constexpr DWORD JOB_OBJECT_UILIMIT_HANDLES = 0x1;
constexpr DWORD JOB_OBJECT_UILIMIT_READCLIPBOARD = 0x2;
constexpr DWORD JOB_OBJECT_UILIMIT_WRITECLIPBOARD = 0x4;
constexpr DWORD JOB_OBJECT_UILIMIT_SYSTEMPARAMETERS = 0x8;
constexpr DWORD JOB_OBJECT_UILIMIT_DISPLAYSETTINGS = 0x10;
constexpr DWORD JOB_OBJECT_UILIMIT_DESKTOP = 0x40;
constexpr DWORD JOB_OBJECT_UILIMIT_EXITWINDOWS = 0x80;

struct JOBOBJECT_BASIC_UI_RESTRICTIONS {
    DWORD UIRestrictionsClass;
};

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    std::int64_t QuadPart;
};

struct JOBOBJECT_BASIC_LIMIT_INFORMATION {
    LARGE_INTEGER PerProcessUserTimeLimit;
    LARGE_INTEGER PerJobUserTimeLimit;
    DWORD LimitFlags;
    SIZE_T MinimumWorkingSetSize;
    SIZE_T MaximumWorkingSetSize;
    DWORD ActiveProcessLimit;
    ULONG_PTR Affinity;
    DWORD PriorityClass;
    DWORD SchedulingClass;
};

struct IO_COUNTERS {
    ULONGLONG ReadOperationCount;
    ULONGLONG WriteOperationCount;
    ULONGLONG OtherOperationCount;
    ULONGLONG ReadTransferCount;
    ULONGLONG WriteTransferCount;
    ULONGLONG OtherTransferCount;
};

struct JOBOBJECT_EXTENDED_LIMIT_INFORMATION {
    JOBOBJECT_BASIC_LIMIT_INFORMATION BasicLimitInformation;
    IO_COUNTERS IoInfo;
    SIZE_T ProcessMemoryLimit;
    SIZE_T JobMemoryLimit;
    SIZE_T PeakProcessMemoryUsed;
    SIZE_T PeakJobMemoryUsed;
};

// Console control events.
constexpr DWORD CTRL_C_EVENT = 0;
constexpr DWORD CTRL_BREAK_EVENT = 1;
constexpr DWORD CTRL_CLOSE_EVENT = 2;
constexpr DWORD CTRL_LOGOFF_EVENT = 5;
constexpr DWORD CTRL_SHUTDOWN_EVENT = 6;
using PHANDLER_ROUTINE = BOOL(WINAPI*)(DWORD ctrl_type);

// DOS devices.
constexpr DWORD DDD_RAW_TARGET_PATH = 0x1;
constexpr DWORD DDD_REMOVE_DEFINITION = 0x2;
constexpr DWORD DDD_EXACT_MATCH_ON_REMOVE = 0x4;
constexpr DWORD DDD_NO_BROADCAST_SYSTEM = 0x8;

// The registry.
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::intptr_t>(LONG(0x80000002U))))
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD RRF_RT_REG_SZ = 0x2;
constexpr DWORD RRF_RT_REG_EXPAND_SZ = 0x4;
constexpr DWORD RRF_NOEXPAND = 0x10000000;

// Security.
struct ACL {
    BYTE AclRevision;
    BYTE Sbz1;
    WORD AclSize;
    WORD AceCount;
    WORD Sbz2;
};
using PACL = ACL*;

enum SE_OBJECT_TYPE { SE_UNKNOWN_OBJECT_TYPE = 0, SE_FILE_OBJECT = 1 };
enum ACCESS_MODE { NOT_USED_ACCESS = 0, GRANT_ACCESS = 1, SET_ACCESS = 2 };
enum MULTIPLE_TRUSTEE_OPERATION { NO_MULTIPLE_TRUSTEE = 0 };
enum TRUSTEE_FORM { TRUSTEE_IS_SID = 0, TRUSTEE_IS_NAME = 1 };
enum TRUSTEE_TYPE { TRUSTEE_IS_UNKNOWN = 0, TRUSTEE_IS_USER = 1, TRUSTEE_IS_GROUP = 2 };

constexpr SECURITY_INFORMATION DACL_SECURITY_INFORMATION = 0x4;
constexpr DWORD SDDL_REVISION_1 = 1;
constexpr DWORD TOKEN_QUERY = 0x8;
enum TOKEN_INFORMATION_CLASS { TokenUser = 1 };

struct TOKEN_USER {
    SID_AND_ATTRIBUTES User;
};
constexpr DWORD OBJECT_INHERIT_ACE = 0x1;
constexpr DWORD CONTAINER_INHERIT_ACE = 0x2;
constexpr DWORD SUB_CONTAINERS_AND_OBJECTS_INHERIT = 0x3;
constexpr DWORD NO_PROPAGATE_INHERIT_ACE = 0x4;
constexpr DWORD DELETE = 0x00010000;
constexpr DWORD FILE_GENERIC_READ = 0x00120089;
constexpr DWORD FILE_GENERIC_WRITE = 0x00120116;
constexpr DWORD FILE_GENERIC_EXECUTE = 0x001200A0;

struct TRUSTEE_W {
    TRUSTEE_W* pMultipleTrustee;
    MULTIPLE_TRUSTEE_OPERATION MultipleTrusteeOperation;
    TRUSTEE_FORM TrusteeForm;
    TRUSTEE_TYPE TrusteeType;
    LPWSTR ptstrName;
};

struct EXPLICIT_ACCESS_W {
    DWORD grfAccessPermissions;
    ACCESS_MODE grfAccessMode;
    DWORD grfInheritance;
    TRUSTEE_W Trustee;
};
using PEXPLICIT_ACCESS_W = EXPLICIT_ACCESS_W*;

// kernel32: errors and text.
DWORD GetLastError();
void SetLastError(DWORD error);
DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id,
                     LPWSTR buffer, DWORD size, void* arguments);
BOOL CloseHandle(HANDLE handle);
BOOL SetHandleInformation(HANDLE object, DWORD mask, DWORD flags);
HLOCAL LocalFree(HLOCAL memory);
int CompareStringOrdinal(LPCWSTR string1, int count1, LPCWSTR string2, int count2,
                         BOOL ignore_case);

// kernel32: files.
DWORD GetFullPathNameW(LPCWSTR file_name, DWORD buffer_length, LPWSTR buffer, LPWSTR* file_part);
HANDLE CreateFileW(LPCWSTR file_name, DWORD desired_access, DWORD share_mode,
                   LPSECURITY_ATTRIBUTES security_attributes, DWORD creation_disposition,
                   DWORD flags_and_attributes, HANDLE template_file);
DWORD GetFinalPathNameByHandleW(HANDLE file, LPWSTR buffer, DWORD buffer_length, DWORD flags);
BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information);
HANDLE FindFirstFileExW(LPCWSTR file_name, FINDEX_INFO_LEVELS info_level, LPVOID find_data,
                        FINDEX_SEARCH_OPS search_op, LPVOID search_filter, DWORD additional_flags);
BOOL FindClose(HANDLE find_file);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes_to_write, LPDWORD bytes_written,
               void* overlapped);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes_to_read, LPDWORD bytes_read,
              void* overlapped);
BOOL FlushFileBuffers(HANDLE file);
BOOL SetEndOfFile(HANDLE file);
BOOL DeleteFileW(LPCWSTR file_name);
BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS info_class, LPVOID info,
                                DWORD size);
DWORD GetCurrentDirectoryW(DWORD buffer_length, LPWSTR buffer);

// kernel32: environment, command line, standard handles, console.
DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size);
BOOL SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value);
LPWSTR GetEnvironmentStringsW();
BOOL FreeEnvironmentStringsW(LPWSTR block);
LPWSTR GetCommandLineW();
HANDLE GetStdHandle(DWORD std_handle);
BOOL SetStdHandle(DWORD std_handle, HANDLE handle);
DWORD GetFileType(HANDLE file);
BOOL GetConsoleMode(HANDLE console, LPDWORD mode);
BOOL WriteConsoleW(HANDLE console, const void* buffer, DWORD chars_to_write, LPDWORD chars_written,
                   LPVOID reserved);
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add);

// kernel32: the system's folders, the token of the process, texts.
UINT GetSystemWindowsDirectoryW(LPWSTR buffer, UINT size);
// The SDK's inline: a pseudo-handle that needs no closing.
inline HANDLE GetCurrentProcessToken() {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-4));
}

// kernel32: DOS devices, the named mutex, events and waits.
DWORD QueryDosDeviceW(LPCWSTR device_name, LPWSTR target_path, DWORD max);
BOOL DefineDosDeviceW(DWORD flags, LPCWSTR device_name, LPCWSTR target_path);
HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES attributes, BOOL initial_owner, LPCWSTR name);
BOOL ReleaseMutex(HANDLE mutex);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all, DWORD milliseconds);
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manual_reset, BOOL initial_state,
                    LPCWSTR name);
HANDLE OpenEventW(DWORD desired_access, BOOL inherit_handle, LPCWSTR name);
BOOL SetEvent(HANDLE event);
ULONGLONG GetTickCount64();

// kernel32: processes and jobs.
DWORD GetCurrentProcessId();
BOOL InitializeProcThreadAttributeList(LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD attribute_count,
                                       DWORD flags, PSIZE_T size);
BOOL UpdateProcThreadAttribute(LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD flags, DWORD_PTR attribute,
                               PVOID value, SIZE_T size, PVOID previous_value, PSIZE_T return_size);
void DeleteProcThreadAttributeList(LPPROC_THREAD_ATTRIBUTE_LIST list);
BOOL CreateProcessW(LPCWSTR application_name, LPWSTR command_line,
                    LPSECURITY_ATTRIBUTES process_attributes,
                    LPSECURITY_ATTRIBUTES thread_attributes, BOOL inherit_handles,
                    DWORD creation_flags, LPVOID environment, LPCWSTR current_directory,
                    LPSTARTUPINFOW startup_info, LPPROCESS_INFORMATION process_information);
HANDLE CreateJobObjectW(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name);
BOOL SetInformationJobObject(HANDLE job, JOBOBJECTINFOCLASS info_class, LPVOID info,
                             DWORD info_length);
BOOL AssignProcessToJobObject(HANDLE job, HANDLE process);
BOOL TerminateJobObject(HANDLE job, UINT exit_code);
DWORD ResumeThread(HANDLE thread);
BOOL GetExitCodeProcess(HANDLE process, LPDWORD exit_code);
BOOL TerminateProcess(HANDLE process, UINT exit_code);
HANDLE GetCurrentProcess();

// advapi32.
LSTATUS RegGetValueW(HKEY key, LPCWSTR sub_key, LPCWSTR value, DWORD flags, LPDWORD type,
                     PVOID data, LPDWORD data_size);
PVOID FreeSid(PSID sid);
BOOL ConvertSidToStringSidW(PSID sid, LPWSTR* text);
DWORD GetNamedSecurityInfoW(LPCWSTR object_name, SE_OBJECT_TYPE object_type,
                            SECURITY_INFORMATION security_info, PSID* owner, PSID* group,
                            PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* security_descriptor);
DWORD SetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL old_acl, PACL* new_acl);
DWORD SetNamedSecurityInfoW(LPWSTR object_name, SE_OBJECT_TYPE object_type,
                            SECURITY_INFORMATION security_info, PSID owner, PSID group, PACL dacl,
                            PACL sacl);
BOOL OpenProcessToken(HANDLE process, DWORD desired_access, PHANDLE token);
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS info_class, LPVOID info,
                         DWORD length, LPDWORD return_length);
BOOL ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor,
                                                          ULONG* size);

// userenv.
HRESULT CreateAppContainerProfile(PCWSTR name, PCWSTR display_name, PCWSTR description,
                                  PSID_AND_ATTRIBUTES capabilities, DWORD capability_count,
                                  PSID* sid);
HRESULT DeriveAppContainerSidFromAppContainerName(PCWSTR name, PSID* sid);
BOOL GetProfilesDirectoryW(LPWSTR profiles_directory, LPDWORD size);
BOOL GetUserProfileDirectoryW(HANDLE token, LPWSTR profile_directory, LPDWORD size);
