#include "tarvok/path_rules.hpp"

#include <cstdint>
#include <optional>

namespace tarvok::path_rules {
namespace {

enum class ComponentKind { skipped, parent_dir, normal };

struct Component {
    ComponentKind kind;
    std::string_view text;
    std::size_t size;  // bytes it takes from the end of the path, its separator included
};

ComponentKind classify(std::string_view text)
{
    if (text.empty() || text == ".") {
        return ComponentKind::skipped;
    }
    return text == ".." ? ComponentKind::parent_dir : ComponentKind::normal;
}

// Bytes in front of the first body component: a root, or a leading "." that
// names the current directory.
std::size_t prefix_length(std::string_view path)
{
    if (path.starts_with('/')) {
        return 1;
    }
    if (path == "." || path.starts_with("./")) {
        return 1;
    }
    return 0;
}

Component last_component(std::string_view path, std::size_t prefix)
{
    const std::string_view body = path.substr(prefix);
    const std::size_t separator = body.rfind('/');
    if (separator == std::string_view::npos) {
        return {classify(body), body, body.size()};
    }
    const std::string_view text = body.substr(separator + 1);
    return {classify(text), text, text.size() + 1};
}

std::string_view trim_skipped_back(std::string_view path, std::size_t prefix)
{
    while (path.size() > prefix) {
        const Component component = last_component(path, prefix);
        if (component.kind != ComponentKind::skipped) {
            break;
        }
        path.remove_suffix(component.size);
    }
    return path;
}

struct FileName {
    std::string_view name;
    std::string_view parent;
};

std::optional<FileName> file_name(std::string_view path)
{
    const std::size_t prefix = prefix_length(path);
    const std::string_view trimmed = trim_skipped_back(path, prefix);
    if (trimmed.size() <= prefix) {
        return std::nullopt;
    }
    const Component component = last_component(trimmed, prefix);
    if (component.kind != ComponentKind::normal) {
        return std::nullopt;
    }
    std::string_view parent = trimmed.substr(0, trimmed.size() - component.size);
    return FileName{component.text, trim_skipped_back(parent, prefix)};
}

std::size_t utf8_sequence_length(std::string_view bytes, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    const std::uint8_t lead = byte(at);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    std::uint8_t second_low = 0x80;
    std::uint8_t second_high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        second_low = lead == 0xE0 ? 0xA0 : 0x80;
        second_high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        second_low = lead == 0xF0 ? 0x90 : 0x80;
        second_high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    // A maximal valid prefix of a sequence counts as one invalid unit.
    std::size_t valid = 1;
    for (; valid < length && at + valid < bytes.size(); ++valid) {
        const std::uint8_t next = byte(at + valid);
        const std::uint8_t low = valid == 1 ? second_low : 0x80;
        const std::uint8_t high = valid == 1 ? second_high : 0xBF;
        if (next < low || next > high) {
            break;
        }
    }
    return valid == length ? length : 0x100 + valid;
}

std::string joined(std::string_view base, std::string_view name)
{
    std::string path(base);
    if (!path.empty() && !path.ends_with('/')) {
        path.push_back('/');
    }
    path.append(name);
    return path;
}

}  // namespace

std::string scan_path_for(std::string_view path)
{
    const std::optional<FileName> name = file_name(path);
    const std::string scan_name = std::string(name ? name->name : std::string_view()) + ".scan";
    return joined(name ? name->parent : path, scan_name);
}

std::string file_stem_for(std::string_view path)
{
    const std::optional<FileName> name = file_name(path);
    if (!name) {
        return "unknown";
    }
    const std::string_view file = name->name;
    const std::size_t dot = file.rfind('.');
    return std::string(dot == std::string_view::npos || dot == 0 ? file : file.substr(0, dot));
}

std::string sample_name_for(std::string_view path) { return lossy_text(file_stem_for(path)); }

std::string lossy_text(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size());
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t length = utf8_sequence_length(bytes, at);
        if (length > 0 && length < 0x100) {
            text.append(bytes.substr(at, length));
            at += length;
        } else {
            text.append("\xEF\xBF\xBD");
            at += length == 0 ? 1 : length - 0x100;
        }
    }
    return text;
}

}  // namespace tarvok::path_rules
