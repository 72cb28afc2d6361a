// Security attributes for a file only its user, SYSTEM and the administrators may open: none of
// what the folder passes on, so a sandboxed child that can write the folder cannot read, change
// or delete the file.
#pragma once

#include "common/failure.hpp"
#include "common/resource.hpp"

class OwnerOnlySecurity {
public:
    // A protected DACL allowing all access to the process token's user, SYSTEM and
    // BUILTIN\Administrators. Fails with "cannot secure sandbox mount record: Win32 <code>".
    [[nodiscard]] static Result<OwnerOnlySecurity> make();

    // For CreateFileW; valid while this value lives.
    SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

    OwnerOnlySecurity(OwnerOnlySecurity&& other) noexcept
        : descriptor_(std::move(other.descriptor_)) {
        attributes_.lpSecurityDescriptor = descriptor_.get();
    }
    OwnerOnlySecurity& operator=(OwnerOnlySecurity&&) = delete;

private:
    explicit OwnerOnlySecurity(UniqueLocal<PSECURITY_DESCRIPTOR> descriptor)
        : descriptor_(std::move(descriptor)) {
        attributes_.lpSecurityDescriptor = descriptor_.get();
    }

    UniqueLocal<PSECURITY_DESCRIPTOR> descriptor_;
    SECURITY_ATTRIBUTES attributes_{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE}; // not inheritable
};
