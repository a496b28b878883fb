#include "storage_tree.hpp"

#include <glib.h>

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <utility>

namespace sample_writer {

namespace {

// Directory entry names hold at most 31 UTF-16 code units before the NUL.
constexpr std::size_t max_name_units = 31;

std::size_t utf16_units(std::string_view utf8) {
    std::size_t units = 0;
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0U) != 0x80U) {
            units += byte >= 0xF0U ? 2 : 1;
        }
    }
    return units;
}

bool same_ignoring_ascii_case(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) { return g_ascii_tolower(x) == g_ascii_tolower(y); });
}

std::expected<void, std::string> check_name(std::string_view name, const std::string& path) {
    if (name.empty()) {
        return std::unexpected("empty name in stream path '" + path + "'");
    }
    if (g_utf8_validate(name.data(), static_cast<gssize>(name.size()), nullptr) == FALSE) {
        return std::unexpected("stream path '" + path + "' is not valid UTF-8 without NUL");
    }
    if (utf16_units(name) > max_name_units) {
        return std::unexpected("name '" + std::string(name) + "' in stream path '" + path +
                               "' is longer than 31 UTF-16 units");
    }
    return {};
}

std::vector<std::string_view> split_path(std::string_view path) {
    std::vector<std::string_view> names;
    std::size_t start = 0;
    for (std::size_t slash = path.find('/'); slash != std::string_view::npos; slash = path.find('/', start)) {
        names.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    names.push_back(path.substr(start));
    return names;
}

std::expected<void, std::string> insert(StorageNode& root, const Stream& stream) {
    const std::vector<std::string_view> names = split_path(stream.path);
    StorageNode* storage = &root;
    for (std::size_t level = 0; level < names.size(); ++level) {
        const std::string_view name = names[level];
        if (auto checked = check_name(name, stream.path); !checked) {
            return checked;
        }
        const bool is_leaf = level + 1 == names.size();
        auto found = std::ranges::find_if(storage->children, [name](const StorageNode& child) {
            return same_ignoring_ascii_case(child.name, name);
        });
        if (found == storage->children.end()) {
            storage->children.push_back(StorageNode{std::string(name), is_leaf ? &stream : nullptr, {}});
            storage = &storage->children.back();
            continue;
        }
        if (found->name != name) {
            return std::unexpected("stream path '" + stream.path + "' differs only in case from a sibling '" +
                                   found->name + "'");
        }
        if (is_leaf || found->stream != nullptr) {
            return std::unexpected("stream path '" + stream.path + "' collides with another stream or storage");
        }
        storage = &*found;
    }
    return {};
}

}  // namespace

std::expected<StorageNode, std::string> build_storage_tree(std::span<const Stream> streams) {
    StorageNode root;
    for (const Stream& stream : streams) {
        if (auto inserted = insert(root, stream); !inserted) {
            return std::unexpected(std::move(inserted.error()));
        }
    }
    return root;
}

}  // namespace sample_writer
