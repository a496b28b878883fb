#pragma once

#include <expected>
#include <span>
#include <string>
#include <vector>

#include "sample_writer/sample_writer.hpp"

namespace sample_writer {

// One entry of the container's directory: a storage with children, or a
// stream pointing at the caller's bytes.
struct StorageNode {
    std::string name;
    const Stream* stream = nullptr;
    std::vector<StorageNode> children;
};

// The root storage for these streams, or why they cannot share a container.
std::expected<StorageNode, std::string> build_storage_tree(std::span<const Stream> streams);

}  // namespace sample_writer
