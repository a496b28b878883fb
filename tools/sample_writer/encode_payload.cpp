#include "payload_encoding.hpp"
#include "sample_writer/sample_writer.hpp"

namespace sample_writer {

std::vector<std::uint8_t> encode_payload(std::span<const Point> points) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(points.size() * 3);
    std::uint32_t position = 0;
    for (const Point& point : points) {
        append_delta(bytes, point.position - position);
        append_intensity(bytes, point.intensity);
        position = point.position;
    }
    return bytes;
}

}  // namespace sample_writer
