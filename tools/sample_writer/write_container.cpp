#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-output.h>
#include <gsf/gsf-utils.h>

#include "gobject_ptr.hpp"
#include "sample_writer/sample_writer.hpp"
#include "storage_tree.hpp"

namespace sample_writer {

namespace {

// The msole writer mishandles larger sectors once a file passes ~500 KiB.
constexpr guint sector_size = 512;
constexpr guint mini_sector_size = 64;

std::string output_error_text(GsfOutput* output) {
    const GError* error = gsf_output_error(output);
    return error != nullptr ? error->message : "unknown error";
}

std::expected<void, std::string> close_output(GsfOutput* output, const std::string& what) {
    if (gsf_output_close(output) == FALSE) {
        return std::unexpected("cannot close " + what + ": " + output_error_text(output));
    }
    return {};
}

std::expected<void, std::string> write_children(GsfOutfile* storage, const StorageNode& node);

std::expected<void, std::string> write_child(GsfOutfile* storage, const StorageNode& child) {
    const bool is_storage = child.stream == nullptr;
    GObjectPtr<GsfOutput> output(gsf_outfile_new_child(storage, child.name.c_str(), is_storage ? TRUE : FALSE));
    if (!output) {
        return std::unexpected("cannot create '" + child.name + "'");
    }
    if (is_storage) {
        if (auto written = write_children(GSF_OUTFILE(output.get()), child); !written) {
            gsf_output_close(output.get());
            return written;
        }
        return close_output(output.get(), "storage '" + child.name + "'");
    }
    const std::vector<std::uint8_t>& bytes = child.stream->bytes;
    if (!bytes.empty() && gsf_output_write(output.get(), bytes.size(), bytes.data()) == FALSE) {
        std::string message = "cannot write stream '" + child.stream->path + "': " + output_error_text(output.get());
        gsf_output_close(output.get());
        return std::unexpected(std::move(message));
    }
    return close_output(output.get(), "stream '" + child.stream->path + "'");
}

std::expected<void, std::string> write_children(GsfOutfile* storage, const StorageNode& node) {
    for (const StorageNode& child : node.children) {
        if (auto written = write_child(storage, child); !written) {
            return written;
        }
    }
    return {};
}

void init_gsf_once() {
    static const bool initialised = [] {
        gsf_init();
        return true;
    }();
    static_cast<void>(initialised);
}

}  // namespace

std::expected<void, std::string> write_container(const std::string& path, std::span<const Stream> streams) {
    auto tree = build_storage_tree(streams);
    if (!tree) {
        return std::unexpected(std::move(tree.error()));
    }
    init_gsf_once();

    GError* raw_error = nullptr;
    GObjectPtr<GsfOutput> sink(gsf_output_stdio_new(path.c_str(), &raw_error));
    const GErrorPtr error(raw_error);
    if (!sink) {
        return std::unexpected("cannot create '" + path + "': " + (error ? error->message : "unknown error"));
    }
    GObjectPtr<GsfOutfile> root(gsf_outfile_msole_new_full(sink.get(), sector_size, mini_sector_size));
    if (!root) {
        gsf_output_close(sink.get());
        return std::unexpected("cannot start a container in '" + path + "'");
    }
    auto written = write_children(root.get(), *tree);
    auto closed = close_output(GSF_OUTPUT(root.get()), "container '" + path + "'");
    if (!gsf_output_is_closed(sink.get())) {
        auto sink_closed = close_output(sink.get(), "file '" + path + "'");
        if (closed) {
            closed = std::move(sink_closed);
        }
    }
    return written ? closed : written;
}

}  // namespace sample_writer
