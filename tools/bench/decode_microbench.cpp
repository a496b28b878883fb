// The payload decoders on realistic and adversarial payloads.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "oracle/oracle.hpp"
#include "payload_kernels.hpp"
#include "sample_writer/sample_writer.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Span = std::span<const std::uint8_t>;
using tarvok::raw::PayloadKernels;

struct Payloads {
    std::string name;
    std::vector<Bytes> blocks;
};

// The payloads of a generated run, the header and terminator of each block cut off.
Payloads run_payloads()
{
    const sample_writer::Run run = sample_writer::make_run({.scans = 220, .seed = 1});
    Payloads payloads{"run", {}};
    for (std::size_t i = 0; i < run.index.size(); ++i) {
        const std::size_t end = i + 1 < run.index.size() ? run.index[i + 1].block_offset : run.scan_bytes.size();
        const oracle::Bytes payload = oracle::payload(oracle::window(run.scan_bytes, run.index[i].block_offset, end));
        payloads.blocks.emplace_back(payload.begin(), payload.end());
    }
    return payloads;
}

template <class Append>
Payloads generated(std::string name, Append append)
{
    std::mt19937_64 random(7);
    Bytes bytes;
    while (bytes.size() < 256 * 1024) {
        append(bytes, random);
    }
    return {std::move(name), {std::move(bytes)}};
}

std::vector<Payloads> all_payloads()
{
    return {
        run_payloads(),
        generated("one_byte_opcodes", [](Bytes& out, std::mt19937_64& random) {
            out.push_back(static_cast<std::uint8_t>(random() % 0xFC));
        }),
        generated("ff_operands", [](Bytes& out, std::mt19937_64& random) {
            const auto opcode = static_cast<std::uint8_t>(0xFC + random() % 3);
            out.push_back(opcode);
            out.insert(out.end(), opcode - 0xFBU, 0xFF);
            out.push_back(static_cast<std::uint8_t>(random() % 0x80));
        }),
        generated("long_delta_runs", [](Bytes& out, std::mt19937_64& random) {
            out.insert(out.end(), 1000, 0x7F);
            out.push_back(static_cast<std::uint8_t>(0x81 + random() % 0x7B));
        }),
        generated("uniform_bytes", [](Bytes& out, std::mt19937_64& random) {
            out.push_back(static_cast<std::uint8_t>(random()));
        }),
    };
}

std::size_t total_bytes(const Payloads& payloads)
{
    std::size_t total = 0;
    for (const Bytes& block : payloads.blocks) {
        total += block.size();
    }
    return total;
}

template <class Decode>
void register_decoder(const std::string& name, const Payloads& payloads, Decode decode)
{
    benchmark::RegisterBenchmark((name + "/" + payloads.name).c_str(), [&payloads, decode](benchmark::State& state) {
        std::size_t points = 0;
        for (auto _ : state) {
            for (const Bytes& block : payloads.blocks) {
                points += decode(Span(block));
            }
        }
        benchmark::DoNotOptimize(points);
        state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * total_bytes(payloads)));
    });
}

void register_kernels(const PayloadKernels& kernels, const Payloads& payloads)
{
    const std::string name = kernels.name;
    register_decoder(name + "_points", payloads, [&kernels](Span block) {
        thread_local std::vector<tarvok::raw::ScanPoint> points;
        points.resize(std::max(points.size(), block.size() + tarvok::raw::decode_slack));
        return kernels.points(block, points.data());
    });
    register_decoder(name + "_peaks", payloads, [&kernels](Span block) {
        thread_local std::vector<double> mz;
        thread_local std::vector<float> intensity;
        mz.resize(std::max(mz.size(), block.size() + tarvok::raw::decode_slack));
        intensity.resize(mz.size());
        return kernels.peaks(block, mz.data(), intensity.data());
    });
}

}  // namespace

int main(int argc, char** argv)
{
    static const std::vector<Payloads> payloads = all_payloads();
    for (const Payloads& set : payloads) {
        register_decoder("simple_decode", set, [](Span block) { return oracle::decode(block).points.size(); });
        register_decoder("decode_payload", set, [](Span block) { return tarvok::raw::decode_payload(block).size(); });
        register_kernels(tarvok::raw::portable_kernels(), set);
        for (const PayloadKernels* faster : {tarvok::raw::avx2_kernels(), tarvok::raw::avx512_kernels()}) {
            if (faster != nullptr) {
                register_kernels(*faster, set);
            }
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
