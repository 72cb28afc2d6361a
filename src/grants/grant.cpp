#include "grants/grant.hpp"

#include "common/resource.hpp"
#include "common/trace.hpp"
#include "common/windows_error.hpp"
#include "paths/path_forms.hpp"

#include <string>

namespace {

constexpr DWORD MOUNT_ACCESS =
    FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;

std::unexpected<SandboxFailure> acl_failure(std::string_view what, const WideString& directory,
                                            DWORD code) {
    return std::unexpected(win32_failure(std::string(what) + " " + to_utf8(directory), code));
}

} // namespace

Result<void> grant_mount_access(const WideString& directory, PSID sid) {
    trace_stage("grant-mount", directory);
    // The security functions take the plain form; messages keep the caller's canonical one.
    WideString object_name = to_wide(display_path(directory));

    trace_stage("acl-read");
    PACL old_dacl = nullptr; // points into the descriptor, freed with it
    UniqueLocal<PSECURITY_DESCRIPTOR> descriptor;
    DWORD code =
        GetNamedSecurityInfoW(object_name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &old_dacl, nullptr, descriptor.put());
    if (code != ERROR_SUCCESS) {
        return acl_failure("cannot read ACL for", directory, code);
    }

    EXPLICIT_ACCESS_W entry{};
    entry.grfAccessPermissions = MOUNT_ACCESS;
    entry.grfAccessMode = GRANT_ACCESS;
    entry.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    entry.Trustee.pMultipleTrustee = nullptr;
    entry.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID; // the name field holds the SID itself
    entry.Trustee.TrusteeType = TRUSTEE_IS_GROUP;
    entry.Trustee.ptstrName = static_cast<LPWSTR>(sid);

    trace_stage("acl-merge");
    UniqueLocal<PACL> new_dacl;
    // A null old DACL (a directory open to everyone) gives a list holding only the new entry.
    code = SetEntriesInAclW(1, &entry, old_dacl, new_dacl.put());
    if (code != ERROR_SUCCESS) {
        descriptor.reset();
        return acl_failure("cannot merge ACL for", directory, code);
    }

    trace_stage("acl-set");
    code = SetNamedSecurityInfoW(object_name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                 nullptr, nullptr, new_dacl.get(), nullptr);
    new_dacl.reset();
    descriptor.reset();
    trace_stage("acl-done");
    if (code != ERROR_SUCCESS) {
        return acl_failure("cannot set ACL for", directory, code);
    }
    return {};
}
