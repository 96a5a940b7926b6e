// Writes one of the benchmark corpora to standard output, for the command
// line benchmark: tessaly_bench_corpus NAME [BYTES], or --list for the names
// (name, "text" or "encoded", "cp932" or "utf-8", description; tab-separated).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/codec/sample_text.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--list") {
        for (const auto& c : tessaly::bench::Corpora()) {
            std::printf("%.*s\t%s\t%s\t%.*s\n", static_cast<int>(c.name.size()), c.name.data(),
                        c.encoded ? "encoded" : "text", c.utf8 ? "utf-8" : "cp932",
                        static_cast<int>(c.description.size()), c.description.data());
        }
        return 0;
    }
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: tessaly_bench_corpus NAME [BYTES] | --list\n");
        return 2;
    }
    const std::size_t bytes = argc == 3 ? std::strtoull(argv[2], nullptr, 10) : std::size_t{16} << 20;
    const std::string corpus = tessaly::bench::CorpusBytes(argv[1], bytes);
    return std::fwrite(corpus.data(), 1, corpus.size(), stdout) == corpus.size() ? 0 : 1;
}
