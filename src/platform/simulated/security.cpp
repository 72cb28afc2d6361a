// SIDs, AppContainer profiles and the DACLs of files, with the ACL functions of advapi32.
#include "platform/simulated/world.hpp"

#include <algorithm>
#include <set>

namespace sim::detail {
namespace {

struct Sid {
    std::string text;
    bool freed = false;
};

// A block the caller frees with LocalFree; the ACL header is what the caller sees, the entries
// stay here.
struct AclBlock {
    ACL header{};
    std::vector<AccessEntry> entries;
};

struct SecurityDescriptor {
    AclBlock dacl;
    bool has_dacl = false; // false: a null DACL
    bool protected_dacl = false;
};

struct Token : Object {
    const char* kind() const override { return "token"; }
};

struct Security {
    Sid user{sim::USER_SID};                                // the token's user, never freed
    std::vector<std::unique_ptr<Sid>> sids;                 // handed out, freed with FreeSid
    std::vector<std::unique_ptr<std::u16string>> sid_texts; // freed with LocalFree
    std::set<std::u16string> profiles;                      // folded names
    std::vector<std::unique_ptr<AclBlock>> acls;
    std::vector<std::unique_ptr<SecurityDescriptor>> descriptors;
};

Security& security() {
    static Security instance;
    return instance;
}

// Seven sub-authorities from the folded name, as Windows derives them from a hash of it.
std::string derived_sid_text(std::u16string_view name) {
    const std::u16string folded = fold_case(name);
    std::string text = "S-1-15-2";
    for (std::uint32_t round = 1; round <= 7; ++round) {
        std::uint32_t hash = 2166136261U ^ round;
        for (const char16_t c : folded) {
            hash = (hash ^ c) * 16777619U;
        }
        // Appended in two steps: GCC 12 at -O2 takes "-" + std::to_string() for an overlapping
        // copy.
        text += '-';
        text += std::to_string(hash);
    }
    return text;
}

PSID new_sid(std::string text) {
    auto& sids = security().sids;
    sids.push_back(std::make_unique<Sid>(Sid{std::move(text)}));
    return sids.back().get();
}

Sid* find_sid(const void* sid) {
    if (sid == &security().user) {
        return &security().user;
    }
    for (const auto& owned : security().sids) {
        if (owned.get() == sid) {
            return owned.get();
        }
    }
    return nullptr;
}

// The entries of a list the caller may still read: a merged list not yet freed, or the DACL inside
// a descriptor not yet freed.
const std::vector<AccessEntry>* live_entries_of(const ACL* acl) {
    const auto& live = world().local_allocations;
    for (const auto& block : security().acls) {
        if (&block->header == acl && live.contains(acl)) {
            return &block->entries;
        }
    }
    for (const auto& descriptor : security().descriptors) {
        if (descriptor->has_dacl && &descriptor->dacl.header == acl &&
            live.contains(descriptor.get())) {
            return &descriptor->dacl.entries;
        }
    }
    return nullptr;
}

HRESULT check_profile_name(std::u16string_view name) {
    return name.empty() || name.size() > 64 ? E_INVALIDARG : S_OK;
}

// A profile name is 1 to 64 characters of the pattern [-_. A-Za-z0-9]+ (a space is allowed); a
// display name at most 512, a description at most 2048.
HRESULT check_new_profile(std::u16string_view name, std::u16string_view display_name,
                          std::u16string_view description) {
    const auto allowed = [](char16_t c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
               c == u'_' || c == u'.' || c == u'-' || c == u' ';
    };
    if (FAILED(check_profile_name(name)) || !std::ranges::all_of(name, allowed) ||
        display_name.size() > 512 || description.size() > 2048) {
        return E_INVALIDARG;
    }
    return S_OK;
}

// The DACL of a security descriptor in the string form, as far as it is modelled: "D:", "P" for a
// protected list, then entries "(A;;FA;;;<trustee>)" that allow all access to a file, the trustee
// "SY", "BA" or a SID's text.
std::optional<SecurityDescriptor> parse_descriptor(std::u16string_view text) {
    if (!text.starts_with(u"D:")) {
        return std::nullopt;
    }
    text.remove_prefix(2);
    SecurityDescriptor descriptor;
    descriptor.has_dacl = true;
    descriptor.protected_dacl = text.starts_with(u"P");
    text.remove_prefix(descriptor.protected_dacl ? 1 : 0);
    const std::map<std::u16string, std::string> aliases = {{u"SY", "S-1-5-18"},
                                                           {u"BA", "S-1-5-32-544"}};
    while (!text.empty()) {
        const auto end = text.find(u')');
        constexpr std::u16string_view ALLOW_ALL = u"(A;;FA;;;";
        if (!text.starts_with(ALLOW_ALL) || end == std::u16string_view::npos) {
            return std::nullopt;
        }
        const std::u16string trustee(text.substr(ALLOW_ALL.size(), end - ALLOW_ALL.size()));
        const auto alias = aliases.find(trustee);
        if (alias == aliases.end() && !trustee.starts_with(u"S-1-")) {
            return std::nullopt;
        }
        descriptor.dacl.entries.push_back(
            AccessEntry{alias == aliases.end() ? utf8(trustee) : alias->second, 0x001F01FF, 0});
        text.remove_prefix(end + 1);
    }
    descriptor.dacl.header.AceCount = static_cast<WORD>(descriptor.dacl.entries.size());
    return descriptor;
}

constexpr FlagName FILE_RIGHTS[] = {
    {FILE_GENERIC_READ, "FILE_GENERIC_READ"},
    {FILE_GENERIC_WRITE, "FILE_GENERIC_WRITE"},
    {FILE_GENERIC_EXECUTE, "FILE_GENERIC_EXECUTE"},
    {DELETE, "DELETE"},
};
constexpr FlagName INHERITANCE[] = {
    {SUB_CONTAINERS_AND_OBJECTS_INHERIT, "SUB_CONTAINERS_AND_OBJECTS_INHERIT"},
    {OBJECT_INHERIT_ACE, "OBJECT_INHERIT_ACE"},
    {CONTAINER_INHERIT_ACE, "CONTAINER_INHERIT_ACE"},
    {NO_PROPAGATE_INHERIT_ACE, "NO_PROPAGATE_INHERIT_ACE"},
};

// Adds one entry of SetEntriesInAclW to the list, journaled in a line of its own. GRANT_ACCESS
// adds to what the list already allows the trustee explicitly with the same inheritance; a new
// allowing entry goes before the allowing entries there are, inherited ones included.
void merge_entry(std::vector<AccessEntry>& merged, const EXPLICIT_ACCESS_W& entry) {
    const TRUSTEE_W& who = entry.Trustee;
    record("SetEntriesInAclW entry " + flag_names(entry.grfAccessPermissions, FILE_RIGHTS) +
           " mode=" + std::to_string(entry.grfAccessMode) +
           " inherit=" + flag_names(entry.grfInheritance, INHERITANCE) +
           " form=" + std::to_string(who.TrusteeForm) + " type=" + std::to_string(who.TrusteeType) +
           " multiple=" + std::to_string(who.MultipleTrusteeOperation));
    const auto trustee = live_sid_text(who.ptstrName);
    if (entry.grfAccessMode != GRANT_ACCESS || who.TrusteeForm != TRUSTEE_IS_SID ||
        who.pMultipleTrustee != nullptr || who.MultipleTrusteeOperation != NO_MULTIPLE_TRUSTEE ||
        !trustee) {
        not_modelled("SetEntriesInAclW with an entry other than GRANT_ACCESS to one live SID");
    }
    const auto same = std::ranges::find_if(merged, [&](const AccessEntry& existing) {
        return existing.trustee == *trustee && existing.inheritance == entry.grfInheritance &&
               !existing.inherited;
    });
    if (same != merged.end()) {
        same->mask |= entry.grfAccessPermissions;
    } else {
        merged.insert(merged.begin(), AccessEntry{*trustee, entry.grfAccessPermissions,
                                                  entry.grfInheritance, false});
    }
}

} // namespace

std::optional<DescriptorDacl> descriptor_dacl(const void* descriptor) {
    for (const auto& held : security().descriptors) {
        if (held.get() == descriptor && world().local_allocations.contains(descriptor)) {
            return DescriptorDacl{held->has_dacl ? Dacl{held->dacl.entries} : Dacl{},
                                  held->protected_dacl};
        }
    }
    return std::nullopt;
}

void reset_security() {
    security() = Security{};
}

std::optional<std::string> live_sid_text(const void* sid) {
    const Sid* found = find_sid(sid);
    if (found == nullptr || found->freed) {
        return std::nullopt;
    }
    return found->text;
}

} // namespace sim::detail

using namespace sim::detail;
using sim::AccessEntry;

PVOID FreeSid(PSID sid) {
    const Call call("FreeSid");
    if (call.fault()) {
        return sid;
    }
    Sid* found = find_sid(sid);
    if (found == nullptr || found->freed) {
        return sid;
    }
    found->freed = true;
    return nullptr;
}

HRESULT CreateAppContainerProfile(PCWSTR name, PCWSTR display_name, PCWSTR description,
                                  PSID_AND_ATTRIBUTES capabilities, DWORD capability_count,
                                  PSID* sid) {
    const std::u16string_view key(name);
    const Call call("CreateAppContainerProfile",
                    utf8(key) + " | " + utf8(display_name) + " | " + utf8(description) + " | " +
                        (capabilities == nullptr ? "null " : "capabilities ") +
                        std::to_string(capability_count),
                    key);
    if (const auto& fault = call.fault()) {
        return static_cast<HRESULT>(fault->result);
    }
    if (const HRESULT refused = check_new_profile(key, display_name, description);
        FAILED(refused)) {
        return refused;
    }
    if (!security().profiles.insert(fold_case(key)).second) {
        return static_cast<HRESULT>(0x800700B7U);
    }
    *sid = new_sid(derived_sid_text(key));
    return S_OK;
}

HRESULT DeriveAppContainerSidFromAppContainerName(PCWSTR name, PSID* sid) {
    const std::u16string_view key(name);
    const Call call("DeriveAppContainerSidFromAppContainerName", utf8(key), key);
    if (const auto& fault = call.fault()) {
        return static_cast<HRESULT>(fault->result);
    }
    if (const HRESULT refused = check_profile_name(key); FAILED(refused)) {
        return refused;
    }
    *sid = new_sid(derived_sid_text(key));
    return S_OK;
}

DWORD GetNamedSecurityInfoW(LPCWSTR object_name, SE_OBJECT_TYPE object_type,
                            SECURITY_INFORMATION security_info, PSID* owner, PSID* group,
                            PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* security_descriptor) {
    const std::u16string_view path(object_name);
    const Call call(
        "GetNamedSecurityInfoW",
        utf8(path) + " " + std::to_string(object_type) + " " + std::to_string(security_info), path);
    if (const auto& fault = call.fault()) {
        return static_cast<DWORD>(fault->result);
    }
    if (object_type != SE_FILE_OBJECT || security_info != DACL_SECURITY_INFORMATION ||
        owner != nullptr || group != nullptr || sacl != nullptr || dacl == nullptr ||
        security_descriptor == nullptr) {
        not_modelled("GetNamedSecurityInfoW for more or less than a file's DACL: " + utf8(path));
    }
    DWORD error = 0;
    const Dacl* stored = file_dacl(path, error);
    if (stored == nullptr) {
        return error;
    }
    auto descriptor = std::make_unique<SecurityDescriptor>();
    descriptor->has_dacl = stored->has_value();
    if (*stored) {
        descriptor->dacl.entries = **stored;
        descriptor->dacl.header.AceCount = static_cast<WORD>((*stored)->size());
    }
    *dacl = descriptor->has_dacl ? &descriptor->dacl.header : nullptr;
    *security_descriptor = descriptor.get();
    world().local_allocations[descriptor.get()] = "security descriptor";
    security().descriptors.push_back(std::move(descriptor));
    return ERROR_SUCCESS;
}

DWORD SetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL old_acl, PACL* new_acl) {
    const Call call("SetEntriesInAclW", std::to_string(count));
    if (const auto& fault = call.fault()) {
        return static_cast<DWORD>(fault->result);
    }
    std::vector<AccessEntry> merged;
    if (old_acl != nullptr) {
        const auto* old_entries = live_entries_of(old_acl);
        if (old_entries == nullptr) {
            not_modelled("SetEntriesInAclW on a list that was freed or never made");
        }
        merged = *old_entries;
    }
    for (ULONG i = 0; i < count; ++i) {
        merge_entry(merged, entries[i]);
    }
    auto block = std::make_unique<AclBlock>();
    block->entries = std::move(merged);
    block->header.AceCount = static_cast<WORD>(block->entries.size());
    *new_acl = &block->header;
    world().local_allocations[&block->header] = "acl";
    security().acls.push_back(std::move(block));
    return ERROR_SUCCESS;
}

DWORD SetNamedSecurityInfoW(LPWSTR object_name, SE_OBJECT_TYPE object_type,
                            SECURITY_INFORMATION security_info, PSID owner, PSID group, PACL dacl,
                            PACL sacl) {
    const std::u16string_view path(object_name);
    const Call call(
        "SetNamedSecurityInfoW",
        utf8(path) + " " + std::to_string(object_type) + " " + std::to_string(security_info), path);
    if (const auto& fault = call.fault()) {
        return static_cast<DWORD>(fault->result);
    }
    if (object_type != SE_FILE_OBJECT || security_info != DACL_SECURITY_INFORMATION ||
        owner != nullptr || group != nullptr || sacl != nullptr) {
        not_modelled("SetNamedSecurityInfoW of more or less than a file's DACL: " + utf8(path));
    }
    const auto* entries = dacl == nullptr ? nullptr : live_entries_of(dacl);
    if (dacl != nullptr && entries == nullptr) {
        not_modelled("SetNamedSecurityInfoW with a list that was freed or never made");
    }
    DWORD error = 0;
    Dacl* stored = file_dacl(path, error);
    if (stored == nullptr) {
        return error;
    }
    *stored = entries == nullptr ? Dacl{} : Dacl{*entries};
    propagate_inheritance(path);
    return ERROR_SUCCESS;
}

BOOL OpenProcessToken(HANDLE process, DWORD desired_access, PHANDLE token) {
    const Call call("OpenProcessToken", hex(desired_access));
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    if (process != GetCurrentProcess()) {
        not_modelled("OpenProcessToken of another process than the caller");
    }
    *token = add_handle(std::make_shared<Token>());
    return TRUE;
}

// The user's SID stays with the token's data, so the caller's buffer holds only the pointer.
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS info_class, LPVOID info,
                         DWORD length, LPDWORD return_length) {
    const Call call("GetTokenInformation",
                    std::to_string(info_class) + " " + std::to_string(length));
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    if (!fail_unless<Token>(token)) {
        return FALSE;
    }
    if (info_class != TokenUser) {
        not_modelled("GetTokenInformation of class " + std::to_string(info_class));
    }
    *return_length = sizeof(TOKEN_USER);
    if (length < sizeof(TOKEN_USER)) {
        set_last_error(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    *static_cast<TOKEN_USER*>(info) = TOKEN_USER{{&security().user, 0}};
    return TRUE;
}

BOOL ConvertSidToStringSidW(PSID sid, LPWSTR* text) {
    const Call call("ConvertSidToStringSidW");
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    const auto known = live_sid_text(sid);
    if (!known) {
        not_modelled("ConvertSidToStringSidW of a SID that was freed or never made");
    }
    auto& texts = security().sid_texts;
    texts.push_back(std::make_unique<std::u16string>(utf16(*known)));
    *text = texts.back()->data();
    world().local_allocations[*text] = "sid text";
    return TRUE;
}

BOOL ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor,
                                                          ULONG* size) {
    const std::u16string_view given(text);
    const Call call("ConvertStringSecurityDescriptorToSecurityDescriptorW", utf8(given), given);
    if (const auto failed = call.failed<BOOL>()) {
        return *failed;
    }
    auto parsed = parse_descriptor(given);
    if (revision != SDDL_REVISION_1 || !parsed) {
        not_modelled("ConvertStringSecurityDescriptorToSecurityDescriptorW of revision " +
                     std::to_string(revision) + ": " + utf8(given));
    }
    auto held = std::make_unique<SecurityDescriptor>(std::move(*parsed));
    *descriptor = held.get();
    if (size != nullptr) {
        *size = sizeof(SecurityDescriptor);
    }
    world().local_allocations[held.get()] = "security descriptor";
    security().descriptors.push_back(std::move(held));
    return TRUE;
}

namespace sim {

std::size_t unfreed_sids() {
    Guard guard;
    return static_cast<std::size_t>(
        std::ranges::count_if(security().sids, [](const auto& sid) { return !sid->freed; }));
}

std::string app_container_sid(std::string_view profile) {
    return derived_sid_text(utf16(profile));
}

std::optional<std::vector<AccessEntry>> dacl_entries(std::string_view path) {
    Guard guard;
    DWORD error = 0;
    return *file_dacl(utf16(path), error);
}

} // namespace sim
