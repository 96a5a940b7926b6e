// Throughput of Encode and Decode on a 16 MiB mixed Japanese/ASCII text,
// against memcpy of the text and glibc iconv UTF-16 -> CP932 of the same
// text. Every benchmark reports bytes/second of the original text as
// code-page bytes (16 MiB per iteration), whatever it actually reads or
// writes, so the numbers compare directly.
//
// Then Encode and Decode on every code page 932 corpus of sample_text.h
// (Encode/NAME, Decode/NAME), in bytes/second of the corpus as code page 932
// bytes: the text, or for an encoded corpus (an access log) its ASCII.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/codec/sample_text.h"
#include "codec/codepage.h"
#include "codec/percent.h"

namespace {

constexpr std::size_t kTextBytes = 16 << 20;

struct Sample {
    std::u16string text = tessaly::bench::MixedJapaneseText(kTextBytes);
    std::string bytes = tessaly::CodePageBridge::ToBytes(text);
    std::u16string encoded = tessaly::Encode(text, false);
};

const Sample& GetSample() {
    static const Sample sample = [] {
        Sample s;
        if (s.bytes.size() != kTextBytes || tessaly::Decode(s.encoded, false) != s.text) {
            std::fprintf(stderr, "sample text does not round-trip\n");
            std::abort();
        }
        return s;
    }();
    return sample;
}

void SetOriginalBytes(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kTextBytes);
}

// The physical limit: copying the UTF-16 text (about 1.5 times the code-page size).
void BM_MemcpyText(benchmark::State& state) {
    const std::u16string& text = GetSample().text;
    std::vector<char16_t> copy(text.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), text.data(), text.size() * sizeof(char16_t));
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    SetOriginalBytes(state);
}

// The library baseline: UTF-16 -> CP932 into a buffer allocated once.
void BM_IconvUtf16ToCp932(benchmark::State& state) {
    const Sample& sample = GetSample();
    iconv_t cd = iconv_open("CP932", "UTF-16LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        state.SkipWithError("iconv_open failed");
        return;
    }
    std::vector<char> out(kTextBytes);
    for (auto _ : state) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char* in = reinterpret_cast<char*>(const_cast<char16_t*>(sample.text.data()));
        std::size_t inLeft = sample.text.size() * sizeof(char16_t);
        char* o = out.data();
        std::size_t outLeft = out.size();
        if (iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<std::size_t>(-1) || outLeft != 0) {
            state.SkipWithError("iconv failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    if (std::memcmp(out.data(), sample.bytes.data(), kTextBytes) != 0) {
        state.SkipWithError("iconv and the code page table disagree");
    }
    iconv_close(cd);
    SetOriginalBytes(state);
}

// Our own table conversion of the same text, for comparison with iconv.
void BM_CodePageToBytes(benchmark::State& state) {
    const std::u16string& text = GetSample().text;
    for (auto _ : state) {
        std::string bytes = tessaly::CodePageBridge::ToBytes(text);
        benchmark::DoNotOptimize(bytes.data());
    }
    SetOriginalBytes(state);
}

void BM_Encode(benchmark::State& state) {
    const std::u16string& text = GetSample().text;
    for (auto _ : state) {
        std::u16string encoded = tessaly::Encode(text, false);
        benchmark::DoNotOptimize(encoded.data());
    }
    SetOriginalBytes(state);
}

void BM_Decode(benchmark::State& state) {
    const std::u16string& encoded = GetSample().encoded;
    for (auto _ : state) {
        std::u16string text = tessaly::Decode(encoded, false);
        benchmark::DoNotOptimize(text.data());
    }
    SetOriginalBytes(state);
}

BENCHMARK(BM_MemcpyText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IconvUtf16ToCp932)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CodePageToBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Encode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode)->Unit(benchmark::kMillisecond);

// One corpus at a time is kept: the one the running benchmark asks for.
struct CorpusSample {
    std::string name;
    std::size_t bytes = 0;
    std::u16string text;     // empty for an encoded corpus
    std::u16string encoded;
};

const CorpusSample& GetCorpus(const tessaly::bench::Corpus& corpus) {
    static CorpusSample sample;
    if (sample.name != corpus.name) {
        sample.name = corpus.name;
        const std::string bytes = tessaly::bench::CorpusBytes(corpus.name, kTextBytes);
        sample.bytes = bytes.size();
        sample.text = tessaly::CodePageBridge::ToText(bytes);
        if (corpus.encoded) {
            sample.encoded = std::move(sample.text);
            sample.text.clear();
        } else {
            sample.encoded = tessaly::Encode(sample.text, false);
        }
    }
    return sample;
}

const bool kCorporaRegistered = [] {
    for (const tessaly::bench::Corpus& corpus : tessaly::bench::Corpora()) {
        if (corpus.utf8) continue;
        const std::string name(corpus.name);
        if (!corpus.encoded) {
            benchmark::RegisterBenchmark(("Encode/" + name).c_str(), [corpus](benchmark::State& state) {
                const CorpusSample& sample = GetCorpus(corpus);
                for (auto _ : state) {
                    std::u16string encoded = tessaly::Encode(sample.text, false);
                    benchmark::DoNotOptimize(encoded.data());
                }
                state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * sample.bytes));
            })->Unit(benchmark::kMillisecond);
        }
        benchmark::RegisterBenchmark(("Decode/" + name).c_str(), [corpus](benchmark::State& state) {
            const CorpusSample& sample = GetCorpus(corpus);
            for (auto _ : state) {
                std::u16string text = tessaly::Decode(sample.encoded, false);
                benchmark::DoNotOptimize(text.data());
            }
            state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * sample.bytes));
        })->Unit(benchmark::kMillisecond);
    }
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
