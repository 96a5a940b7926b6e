// Throughput of EncodeUrl and DecodeUrl for each encoding and escape set on
// the 16 MiB text of tessaly_codec_bench, each next to the code page 932
// route (Encode, Decode) on the same text in the same run. Reported as
// bytes/second of the original text's code page 932 bytes, whatever each
// route reads or writes, so the rows compare directly.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/codec/sample_text.h"
#include "codec/percent.h"
#include "codec/url.h"

namespace {

using tessaly::Charset;
using tessaly::EscapeSet;

constexpr std::size_t kTextBytes = 16 << 20;

tessaly::EncodeOptions Encoding(Charset charset, EscapeSet set) { return {charset, set, false}; }

struct Sample {
    std::u16string text = tessaly::bench::MixedJapaneseText(kTextBytes);
    // Encoded in each encoding with the printable set, and with the form set.
    std::u16string encoded[3];
    std::u16string form[3];
    // Lines of the text, each line encoded in the next encoding in turn.
    std::u16string mixed;

    Sample() {
        for (unsigned k = 0; k < 3; ++k) {
            encoded[k] = tessaly::EncodeUrl(text, Encoding(static_cast<Charset>(k), EscapeSet::kPrintable));
            form[k] = tessaly::EncodeUrl(text, Encoding(static_cast<Charset>(k), EscapeSet::kForm));
        }
        // Each line's break stays as it is, as in a log, so that detection
        // sees lines.
        unsigned k = 0;
        for (std::size_t pos = 0; pos < text.size();) {
            std::size_t end = text.find(u'\n', pos);
            end = end == std::u16string::npos ? text.size() : end + 1;
            std::size_t body = end;
            while (body > pos && (text[body - 1] == u'\n' || text[body - 1] == u'\r')) --body;
            mixed += tessaly::EncodeUrl(std::u16string_view(text).substr(pos, body - pos),
                                        Encoding(static_cast<Charset>(k++ % 3), EscapeSet::kPrintable));
            mixed.append(text, body, end - body);
            pos = end;
        }
        for (unsigned c = 0; c < 3; ++c) {
            tessaly::DecodeOptions d;
            d.charset = static_cast<Charset>(c);
            if (tessaly::DecodeUrl(encoded[c], d) != text) {
                std::fprintf(stderr, "the sample does not come back from %u\n", c);
                std::abort();
            }
        }
    }
};

const Sample& GetSample() {
    static const Sample sample;
    return sample;
}

void SetOriginalBytes(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kTextBytes);
}

void BM_EncodeCp932Route(benchmark::State& state) {
    const std::u16string& text = GetSample().text;
    for (auto _ : state) {
        std::u16string out = tessaly::Encode(text, false);
        benchmark::DoNotOptimize(out.data());
    }
    SetOriginalBytes(state);
}

void BM_EncodeUrl(benchmark::State& state) {
    const std::u16string& text = GetSample().text;
    const auto options = Encoding(static_cast<Charset>(state.range(0)), static_cast<EscapeSet>(state.range(1)));
    for (auto _ : state) {
        tessaly::EncodeReport report;
        std::u16string out = tessaly::EncodeUrl(text, options, &report);
        benchmark::DoNotOptimize(out.data());
    }
    SetOriginalBytes(state);
}

void BM_DecodeCp932Route(benchmark::State& state) {
    const std::u16string& encoded = GetSample().encoded[0];
    for (auto _ : state) {
        std::u16string out = tessaly::Decode(encoded, false);
        benchmark::DoNotOptimize(out.data());
    }
    SetOriginalBytes(state);
}

// range(0): the encoding; range(1): 1 for the form-encoded text read with
// "+" as a space.
void BM_DecodeUrl(benchmark::State& state) {
    const Sample& sample = GetSample();
    const auto k = static_cast<unsigned>(state.range(0));
    const bool form = state.range(1) != 0;
    tessaly::DecodeOptions options;
    options.charset = static_cast<Charset>(k);
    options.plusAsSpace = form;
    const std::u16string& input = form ? sample.form[k] : sample.encoded[k];
    for (auto _ : state) {
        tessaly::DecodeReport report;
        std::u16string out = tessaly::DecodeUrl(input, options, &report);
        benchmark::DoNotOptimize(out.data());
    }
    SetOriginalBytes(state);
}

// The lines in turn in each encoding: read in the encoding range(0), and
// with range(1) 1, detected with that encoding deciding ties.
void BM_DecodeMixedLines(benchmark::State& state) {
    const std::u16string& mixed = GetSample().mixed;
    tessaly::DecodeOptions options;
    options.charset = static_cast<Charset>(state.range(0));
    options.detect = state.range(1) != 0;
    for (auto _ : state) {
        tessaly::DecodeReport report;
        std::u16string out = tessaly::DecodeUrl(mixed, options, &report);
        benchmark::DoNotOptimize(out.data());
    }
    SetOriginalBytes(state);
}

// The encoded text of BM_DecodeUrl, whose line breaks are escapes: one
// line of 40 MB or more, detected a cap's worth at a time, with the
// encoding range(0) deciding ties.
void BM_DecodeOneLongLineDetected(benchmark::State& state) {
    const auto k = static_cast<unsigned>(state.range(0));
    tessaly::DecodeOptions options;
    options.charset = static_cast<Charset>(k);
    options.detect = true;
    for (auto _ : state) {
        tessaly::DecodeReport report;
        std::u16string out = tessaly::DecodeUrl(GetSample().encoded[k], options, &report);
        benchmark::DoNotOptimize(out.data());
    }
    SetOriginalBytes(state);
}

BENCHMARK(BM_EncodeCp932Route)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeUrl)
    ->ArgNames({"charset", "set"})
    ->ArgsProduct({{0, 1, 2}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeCp932Route)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeUrl)->ArgNames({"charset", "plus"})->ArgsProduct({{0, 1, 2}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeMixedLines)
    ->ArgNames({"charset", "detect"})
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeOneLongLineDetected)->ArgName("charset")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
