// Throughput of the byte routes tessaly-cli takes on the same 16 MiB text as
// tessaly_codec_bench: code page 932 bytes to encoded bytes (escapes of
// their own bytes, and of their UTF-8 or EUC-JP bytes in each escape set),
// and the encoded (ASCII) bytes back to code page 932 bytes, each with no
// text in between, in 1 MiB pieces into a reused buffer as the CLI runs
// them. Reported as bytes/second of the original text. A program of its own,
// so that the rows of tessaly_codec_bench keep their code layout and timings.
//
// Then the same two routes on every corpus of sample_text.h (EncodeBytes/NAME,
// DecodeAsciiToBytes/NAME), in bytes/second of what each reads: the corpus
// for encoding; for decoding its encoded form, or the corpus itself when it
// is an encoded one (an access log).
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include "bench/codec/sample_text.h"
#include "codec/codepage.h"
#include "codec/percent.h"
#include "codec/url.h"

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

// The byte route into escapes of range(0)'s encoding (0, code page 932
// itself, in the printable set is the route of the row above) in the
// escape set range(1), with the report tessaly-cli asks for.
void BM_EncodeUrlBytes(benchmark::State& state) {
    const std::string_view bytes = GetSample().bytes;
    tessaly::EncodeOptions options;
    options.charset = static_cast<tessaly::Charset>(state.range(0));
    options.escape = static_cast<tessaly::EscapeSet>(state.range(1));
    std::string encoded;
    for (auto _ : state) {
        for (std::size_t at = 0; at < bytes.size(); at += kPiece) {
            encoded.clear();
            tessaly::BytesReport report;
            tessaly::EncodeUrlBytesAppend(encoded, bytes.substr(at, kPiece), tessaly::TextBytes::kCp932, options,
                                          true, &report);
            benchmark::DoNotOptimize(encoded.data());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kTextBytes);
}

BENCHMARK(BM_EncodeBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeUrlBytes)
    ->ArgNames({"charset", "set"})
    ->ArgsProduct({{0, 1, 2}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeAsciiToBytes)->Unit(benchmark::kMillisecond);

// The text's escapes in encoding range(0), UTF-8 or EUC-JP, as tessaly-cli
// writes them, decoded back to code page 932 bytes through the byte route
// with the report tessaly-cli asks for (code page 932's escapes take the
// route of the row above).
void BM_DecodeUrlBytes(benchmark::State& state) {
    const auto charset = static_cast<tessaly::Charset>(state.range(0));
    static std::string encodings[3];  // by charset
    std::string& encoded = encodings[state.range(0)];
    if (encoded.empty()) {
        tessaly::EncodeOptions options;
        options.charset = charset;
        tessaly::EncodeUrlBytesAppend(encoded, GetSample().bytes, tessaly::TextBytes::kCp932, options, true);
    }
    tessaly::DecodeOptions options;
    options.charset = charset;
    std::string bytes;
    for (auto _ : state) {
        for (std::size_t at = 0; at < encoded.size(); at += kPiece) {
            bytes.clear();
            tessaly::BytesReport report;
            tessaly::DecodeUrlBytesAppend(bytes, std::string_view(encoded).substr(at, kPiece),
                                          tessaly::TextBytes::kCp932, options, true, &report);
            benchmark::DoNotOptimize(bytes.data());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kTextBytes);
}
BENCHMARK(BM_DecodeUrlBytes)->ArgName("charset")->DenseRange(1, 2)->Unit(benchmark::kMillisecond);

// One corpus at a time is kept: the one the running benchmark asks for.
struct CorpusSample {
    std::string name;
    std::string bytes;    // code page 932 text, empty for an encoded corpus
    std::string encoded;  // ASCII
};

const CorpusSample& GetCorpus(const tessaly::bench::Corpus& corpus) {
    static CorpusSample sample;
    if (sample.name != corpus.name) {
        sample.name = corpus.name;
        sample.bytes = tessaly::bench::CorpusBytes(corpus.name, kTextBytes);
        if (corpus.encoded) {
            sample.encoded = std::move(sample.bytes);
            sample.bytes.clear();
        } else {
            sample.encoded.clear();
            tessaly::EncodeBytesAppend(sample.encoded, sample.bytes, false, true);
        }
    }
    return sample;
}

template <class Route>
void RunInPieces(benchmark::State& state, std::string_view input, Route route) {
    std::string out;
    for (auto _ : state) {
        for (std::size_t at = 0; at < input.size(); at += kPiece) {
            out.clear();
            route(out, input.substr(at, kPiece));
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

const bool kCorporaRegistered = [] {
    for (const tessaly::bench::Corpus& corpus : tessaly::bench::Corpora()) {
        if (corpus.utf8) continue;
        const std::string name(corpus.name);
        if (!corpus.encoded) {
            benchmark::RegisterBenchmark(("EncodeBytes/" + name).c_str(), [corpus](benchmark::State& state) {
                RunInPieces(state, GetCorpus(corpus).bytes, [](std::string& out, std::string_view in) {
                    tessaly::EncodeBytesAppend(out, in, false, true);
                });
            })->Unit(benchmark::kMillisecond);
        }
        benchmark::RegisterBenchmark(("DecodeAsciiToBytes/" + name).c_str(), [corpus](benchmark::State& state) {
            RunInPieces(state, GetCorpus(corpus).encoded, [](std::string& out, std::string_view in) {
                tessaly::DecodeAsciiToBytesAppend(out, in, false, true);
            });
        })->Unit(benchmark::kMillisecond);
    }
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
