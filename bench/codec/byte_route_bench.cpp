// Throughput of the byte routes tessaly-cli takes on the same 16 MiB text as
// tessaly_codec_bench: code page 932 bytes to encoded bytes, and the encoded
// (ASCII) bytes back to code page 932 bytes, each with no text in between,
// in 1 MiB pieces into a reused buffer as the CLI runs them. Reported as
// bytes/second of the original text. A program of its own, so that the rows
// of tessaly_codec_bench keep their code layout and timings.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include "bench/codec/sample_text.h"
#include "codec/codepage.h"
#include "codec/percent.h"

namespace {

constexpr std::size_t kTextBytes = 16 << 20;
constexpr std::size_t kPiece = 1 << 20;

struct Sample {
    std::string bytes = tessaly::CodePageBridge::ToBytes(tessaly::bench::MixedJapaneseText(kTextBytes));
    std::string encoded = tessaly::CodePageBridge::ToBytes(
        tessaly::Encode(tessaly::CodePageBridge::ToText(bytes), false));
};

const Sample& GetSample() {
    static const Sample sample;
    return sample;
}

void BM_EncodeBytes(benchmark::State& state) {
    const std::string_view bytes = GetSample().bytes;
    std::string encoded;
    for (auto _ : state) {
        for (std::size_t at = 0; at < bytes.size(); at += kPiece) {
            encoded.clear();
            tessaly::EncodeBytesAppend(encoded, bytes.substr(at, kPiece), false, true);
            benchmark::DoNotOptimize(encoded.data());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kTextBytes);
}

void BM_DecodeAsciiToBytes(benchmark::State& state) {
    const std::string_view encoded = GetSample().encoded;
    std::string bytes;
    for (auto _ : state) {
        for (std::size_t at = 0; at < encoded.size(); at += kPiece) {
            bytes.clear();
            tessaly::DecodeAsciiToBytesAppend(bytes, encoded.substr(at, kPiece), false, true);
            benchmark::DoNotOptimize(bytes.data());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kTextBytes);
}

BENCHMARK(BM_EncodeBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeAsciiToBytes)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
