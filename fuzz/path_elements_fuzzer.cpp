// Path elements, remainder_under and join_path. A path joined onto a canonical base never climbs
// above the base's root; the remainder of a path under a base, joined back onto the base or onto
// a mount root, gives the same elements. The input split at NUL bytes gives the texts; its first
// byte picks the canonical prefix the constructed paths start with.
#include "fuzz_input.hpp"
#include "paths/path_elements.hpp"

#include <algorithm>

namespace {

using Kind = PathElement::Kind;

// Drive letters compare without regard to case, every other element byte for byte.
bool same_element(const PathElement& a, WideStringView a_path, const PathElement& b,
                  WideStringView b_path) {
    if (a.kind != b.kind) {
        return false;
    }
    if (a.kind == Kind::Root) {
        return true;
    }
    if (a.kind == Kind::Prefix &&
        (a.prefix != b.prefix ||
         (a.prefix == PrefixKind::Disk || a.prefix == PrefixKind::VerbatimDisk))) {
        const auto upper = [](WCHAR c) { return c >= 'a' && c <= 'z' ? WCHAR(c - 32) : c; };
        return a.prefix == b.prefix &&
               upper(a_path[a.offset + a.length - 2]) == upper(b_path[b.offset + b.length - 2]);
    }
    return a.text(a_path) == b.text(b_path);
}

// Whether the elements of `a` from `a_from` on equal those of `b` from `b_from` on.
bool same_elements(WideStringView a, std::size_t a_from, WideStringView b, std::size_t b_from) {
    const auto a_parts = path_elements(a);
    const auto b_parts = path_elements(b);
    if (a_parts.size() - std::min(a_from, a_parts.size()) !=
        b_parts.size() - std::min(b_from, b_parts.size())) {
        return false;
    }
    for (std::size_t i = a_from, j = b_from; i < a_parts.size(); ++i, ++j) {
        if (!same_element(a_parts[i], a, b_parts[j], b)) {
            return false;
        }
    }
    return true;
}

void check_elements(WideStringView path) {
    const auto parts = path_elements(path);
    const auto verbatim =
        !parts.empty() && parts[0].kind == Kind::Prefix &&
        (parts[0].prefix == PrefixKind::VerbatimUnc ||
         parts[0].prefix == PrefixKind::VerbatimDisk || parts[0].prefix == PrefixKind::Verbatim);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const PathElement& part = parts[i];
        if (part.offset > path.size() || part.length > path.size() - part.offset) {
            fuzz_failure("an element outside its path: " + to_utf8(path));
        }
        if ((part.kind == Kind::Prefix && i != 0) || (part.kind == Kind::Root && i > 1)) {
            fuzz_failure("a prefix or root out of place: " + to_utf8(path));
        }
        const WideStringView text = part.text(path);
        if (part.kind == Kind::Name &&
            (text.empty() || text.find(WCHAR('\\')) != WideStringView::npos ||
             (!verbatim && text.find(WCHAR('/')) != WideStringView::npos))) {
            fuzz_failure("a name that is empty or holds a separator: " + to_utf8(path));
        }
    }
}

// `appended` onto a canonical `base` stays below the base's prefix and root, with no "." or ".."
// left in the text.
void check_no_climb(const WideString& base, const WideString& appended) {
    const auto appended_parts = path_elements(appended);
    if (!appended_parts.empty() && appended_parts[0].kind == Kind::Prefix) {
        return; // replaces the base
    }
    const WideString joined = join_path(base, appended);
    const WideString root = WideString(path_elements(base)[0].text(base)) + WCHAR('\\');
    if (!joined.starts_with(root)) {
        fuzz_failure("joined path left the base's root: " + to_utf8(joined));
    }
    if (joined.size() == root.size()) {
        return;
    }
    for (std::size_t at = root.size(); at <= joined.size();) {
        const std::size_t end = std::min(joined.find(WCHAR('\\'), at), joined.size());
        const WideStringView name = WideStringView(joined).substr(at, end - at);
        if (name.empty() || name == to_wide(".") || name == to_wide("..")) {
            fuzz_failure("joined path holds an empty, \".\" or \"..\" name: " + to_utf8(joined));
        }
        at = end + 1;
    }
}

// A canonical path holds names only, without "/" or ":", which a file name cannot hold (a colon
// would name a stream of the file).
bool is_canonical_like(WideStringView path) {
    const auto parts = path_elements(path);
    return std::ranges::all_of(parts.begin() + std::min<std::size_t>(2, parts.size()), parts.end(),
                               [&](const PathElement& part) {
                                   return part.kind == Kind::Name &&
                                          part.text(path).find_first_of(to_wide("/:")) ==
                                              WideStringView::npos;
                               });
}

void check_remainder(const WideString& path, const WideString& base, bool must_lie_under) {
    const auto remainder = remainder_under(path, base);
    if (!remainder) {
        if (must_lie_under) {
            fuzz_failure("a path built under its base does not lie under it: " + to_utf8(path));
        }
        return;
    }
    if (!same_elements(join_path(base, *remainder), 0, path, 0)) {
        fuzz_failure("remainder joined back onto its base differs: " + to_utf8(path));
    }
    const WideString mount_root = to_wide("X:\\");
    if (!same_elements(join_path(mount_root, *remainder), 2, path, path_elements(base).size())) {
        fuzz_failure("remainder joined onto a mount root differs: " + to_utf8(*remainder));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> texts = split_at_nul(data, size);
    texts.resize(std::max<std::size_t>(texts.size(), 3));
    const WideString a = to_wide(texts[0]);
    const WideString b = to_wide(texts[1]);
    const WideString c = to_wide(texts[2]);
    for (const WideString* text : {&a, &b, &c}) {
        check_elements(*text);
        is_absolute_path(*text);
    }
    remainder_under(a, b);
    join_path(a, b);

    static const char* const PREFIXES[][2] = {
        {"\\\\?\\C:\\", "\\\\?\\C:\\"},
        {"\\\\?\\D:\\", "\\\\?\\d:\\"},
        {"\\\\?\\UNC\\server\\share\\", "\\\\?\\UNC\\server\\share\\"},
    };
    const auto& prefix = PREFIXES[size == 0 ? 0 : data[0] % std::size(PREFIXES)];
    const WideString path_prefix = to_wide(prefix[0]);
    const WideString base_prefix = to_wide(prefix[1]);

    const auto a_parts = path_elements(a);
    const bool a_is_canonical =
        !a_parts.empty() && a_parts[0].kind == Kind::Prefix && starts_with_ascii(a, "\\\\?\\");
    check_no_climb(a_is_canonical ? a : base_prefix + a, b);

    const WideString path = path_prefix + a + WCHAR('\\') + b;
    if (is_canonical_like(path)) {
        check_remainder(path, base_prefix + a, true);
        check_remainder(path, base_prefix + c, false);
    }
    return 0;
}
