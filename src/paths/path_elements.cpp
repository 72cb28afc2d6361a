#include "paths/path_elements.hpp"

#include <algorithm>

namespace {

bool is_backslash(WCHAR c) {
    return c == WCHAR('\\');
}
bool is_any_separator(WCHAR c) {
    return c == WCHAR('\\') || c == WCHAR('/');
}
bool is_ascii_letter(WCHAR c) {
    return (c >= WCHAR('a') && c <= WCHAR('z')) || (c >= WCHAR('A') && c <= WCHAR('Z'));
}
WCHAR ascii_upper(WCHAR c) {
    return (c >= WCHAR('a') && c <= WCHAR('z')) ? static_cast<WCHAR>(c - 32) : c;
}

// Length of the component starting at `from`, up to the next separator.
std::size_t component_length(WideStringView path, std::size_t from, bool verbatim) {
    std::size_t end = from;
    while (end < path.size() &&
           !(verbatim ? is_backslash(path[end]) : is_any_separator(path[end]))) {
        ++end;
    }
    return end - from;
}

// Server and share after `from`; the length they cover, or 0 when either is missing and
// `require_both` is set.
std::size_t server_and_share(WideStringView path, std::size_t from, bool verbatim,
                             bool require_both) {
    const std::size_t server = component_length(path, from, verbatim);
    std::size_t covered = server;
    std::size_t share = 0;
    if (from + server < path.size()) {
        share = component_length(path, from + server + 1, verbatim);
        if (share > 0) {
            covered += 1 + share;
        }
    }
    if (require_both && (server == 0 || share == 0)) {
        return 0;
    }
    return covered;
}

struct Prefix {
    PrefixKind kind;
    std::size_t length;
};

std::optional<Prefix> parse_prefix(WideStringView path) {
    if (path.size() >= 2 && is_any_separator(path[0]) && is_any_separator(path[1])) {
        if (starts_with_ascii(path, "\\\\?\\")) {
            if (starts_with_ascii(path, "\\\\?\\UNC\\")) {
                return Prefix{PrefixKind::VerbatimUnc, 8 + server_and_share(path, 8, true, false)};
            }
            if (path.size() >= 6 && is_ascii_letter(path[4]) && path[5] == WCHAR(':') &&
                (path.size() == 6 || is_backslash(path[6]))) {
                return Prefix{PrefixKind::VerbatimDisk, 6};
            }
            return Prefix{PrefixKind::Verbatim, 4 + component_length(path, 4, true)};
        }
        if (path.size() >= 4 && path[2] == WCHAR('.') && is_any_separator(path[3])) {
            return Prefix{PrefixKind::Device, 4 + component_length(path, 4, false)};
        }
        if (const std::size_t covered = server_and_share(path, 2, false, true); covered > 0) {
            return Prefix{PrefixKind::Unc, 2 + covered};
        }
        return std::nullopt;
    }
    if (path.size() >= 2 && is_ascii_letter(path[0]) && path[1] == WCHAR(':')) {
        return Prefix{PrefixKind::Disk, 2};
    }
    return std::nullopt;
}

bool is_verbatim(PrefixKind kind) {
    return kind == PrefixKind::VerbatimUnc || kind == PrefixKind::VerbatimDisk ||
           kind == PrefixKind::Verbatim;
}

bool same_element(const PathElement& a, WideStringView a_path, const PathElement& b,
                  WideStringView b_path) {
    if (a.kind != b.kind) {
        return false;
    }
    if (a.kind == PathElement::Kind::Prefix) {
        if (a.prefix != b.prefix) {
            return false;
        }
        if (a.prefix == PrefixKind::Disk || a.prefix == PrefixKind::VerbatimDisk) {
            // The drive letter is the unit before the colon, which ends both prefixes.
            return ascii_upper(a_path[a.offset + a.length - 2]) ==
                   ascii_upper(b_path[b.offset + b.length - 2]);
        }
    }
    if (a.kind == PathElement::Kind::Root) {
        return true;
    }
    return a.text(a_path) == b.text(b_path);
}

bool is_separator_of(WCHAR c, bool verbatim) {
    return verbatim ? is_backslash(c) : is_any_separator(c);
}

} // namespace

std::vector<PathElement> path_elements(WideStringView path) {
    std::vector<PathElement> elements;
    std::size_t at = 0;
    bool verbatim = false;
    bool rooted = false;
    if (const auto prefix = parse_prefix(path)) {
        elements.push_back({PathElement::Kind::Prefix, prefix->kind, 0, prefix->length});
        at = prefix->length;
        verbatim = is_verbatim(prefix->kind);
        rooted = prefix->kind != PrefixKind::Disk;
    }
    if (at < path.size() && is_separator_of(path[at], verbatim)) {
        elements.push_back({PathElement::Kind::Root, PrefixKind::Disk, at, 1});
        rooted = true;
        ++at;
    } else if (rooted) {
        // UNC, verbatim and device prefixes are rooted even without a separator of their own.
        elements.push_back({PathElement::Kind::Root, PrefixKind::Disk, at, 0});
    }
    bool first = true;
    while (at < path.size()) {
        const std::size_t length = component_length(path, at, verbatim);
        const WideStringView name = path.substr(at, length);
        if (name.size() == 1 && name[0] == WCHAR('.')) {
            if (first && !rooted) {
                elements.push_back({PathElement::Kind::CurrentDir, PrefixKind::Disk, at, length});
            }
        } else if (name.size() == 2 && name[0] == WCHAR('.') && name[1] == WCHAR('.')) {
            elements.push_back({PathElement::Kind::ParentDir, PrefixKind::Disk, at, length});
        } else if (!name.empty()) {
            elements.push_back({PathElement::Kind::Name, PrefixKind::Disk, at, length});
        }
        first = false;
        at += length + 1;
    }
    return elements;
}

bool is_absolute_path(WideStringView path) {
    const auto elements = path_elements(path);
    return elements.size() >= 2 && elements[0].kind == PathElement::Kind::Prefix &&
           elements[1].kind == PathElement::Kind::Root;
}

std::optional<WideString> remainder_under(WideStringView path, WideStringView base) {
    const auto path_parts = path_elements(path);
    const auto base_parts = path_elements(base);
    if (base_parts.size() > path_parts.size()) {
        return std::nullopt;
    }
    std::size_t rest = 0;
    for (std::size_t i = 0; i < base_parts.size(); ++i) {
        if (!same_element(path_parts[i], path, base_parts[i], base)) {
            return std::nullopt;
        }
        rest = path_parts[i].offset + path_parts[i].length;
    }
    const bool verbatim = !path_parts.empty() && path_parts[0].kind == PathElement::Kind::Prefix &&
                          is_verbatim(path_parts[0].prefix);
    WideStringView remainder = path.substr(std::min(rest, path.size()));
    while (!remainder.empty() && is_separator_of(remainder.front(), verbatim)) {
        remainder.remove_prefix(1);
    }
    while (!remainder.empty() && is_separator_of(remainder.back(), verbatim)) {
        remainder.remove_suffix(1);
    }
    return WideString(remainder);
}

bool lies_within(WideStringView path, WideStringView directory) {
    const auto path_parts = path_elements(path);
    const auto directory_parts = path_elements(directory);
    if (directory_parts.empty() || directory_parts.size() > path_parts.size()) {
        return false;
    }
    for (std::size_t i = 0; i < directory_parts.size(); ++i) {
        const PathElement& a = path_parts[i];
        const PathElement& b = directory_parts[i];
        if (a.kind != b.kind || (a.kind == PathElement::Kind::Prefix && a.prefix != b.prefix)) {
            return false;
        }
        const WideStringView a_text = a.text(path);
        const WideStringView b_text = b.text(directory);
        if (a.kind != PathElement::Kind::Root &&
            CompareStringOrdinal(a_text.data(), static_cast<int>(a_text.size()), b_text.data(),
                                 static_cast<int>(b_text.size()), TRUE) != CSTR_EQUAL) {
            return false;
        }
    }
    return true;
}

WideString join_path(WideStringView base, WideStringView appended) {
    const auto base_parts = path_elements(base);
    const bool canonical_base = !base_parts.empty() &&
                                base_parts[0].kind == PathElement::Kind::Prefix &&
                                is_verbatim(base_parts[0].prefix);
    if (!canonical_base) {
        WideString joined(base);
        if (!joined.empty() && !is_any_separator(joined.back()) && !appended.empty()) {
            joined.push_back(WCHAR('\\'));
        }
        joined.append(appended);
        return joined;
    }
    const auto appended_parts = path_elements(appended);
    if (!appended_parts.empty() && appended_parts[0].kind == PathElement::Kind::Prefix) {
        return WideString(appended); // absolute, or with a drive of its own
    }
    const WideStringView prefix = base_parts[0].text(base);
    std::vector<WideStringView> names;
    for (const auto& part : base_parts) {
        if (part.kind == PathElement::Kind::Name) {
            names.push_back(part.text(base));
        } else if (part.kind == PathElement::Kind::ParentDir && !names.empty()) {
            names.pop_back();
        }
    }
    for (const auto& part : appended_parts) {
        switch (part.kind) {
        case PathElement::Kind::Root:
            names.clear();
            break;
        case PathElement::Kind::ParentDir:
            if (!names.empty()) {
                names.pop_back();
            }
            break;
        case PathElement::Kind::Name:
            names.push_back(part.text(appended));
            break;
        case PathElement::Kind::Prefix:
        case PathElement::Kind::CurrentDir:
            break;
        }
    }
    WideString joined(prefix);
    joined.push_back(WCHAR('\\'));
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            joined.push_back(WCHAR('\\'));
        }
        joined.append(names[i]);
    }
    return joined;
}
