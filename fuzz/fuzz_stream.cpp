// The command line's chain fed in pieces gives what the whole input gives.
// Byte 0 chooses the command, the option and the encoding, and with bit 3
// reads the input as a recipe for text-like bytes (see TextLikeBytes); byte 1
// says how many cuts follow, two bytes each (an offset modulo the input's
// size); the rest is the input.
#include <algorithm>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tests/codec/stream_chain.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const tessaly::test::ChainOptions o{(data[0] & 1) != 0, (data[0] & 2) != 0, (data[0] & 4) != 0};
    const unsigned data0 = data[0];
    std::size_t cutCount = data[1] % 16;
    data += 2, size -= 2;
    cutCount = std::min(cutCount, size / 2);
    std::vector<std::size_t> raw;
    for (std::size_t i = 0; i < cutCount; ++i) raw.push_back(data[2 * i] | data[2 * i + 1] << 8);
    data += 2 * cutCount, size -= 2 * cutCount;
    const bool textLike = (data0 & 8) != 0;
    const std::string made = textLike ? tessaly::fuzz::TextLikeBytes(data, size) : std::string();
    const std::string_view input = textLike ? std::string_view(made) : tessaly::fuzz::AsBytes(data, size);
    std::vector<std::size_t> cuts;
    for (const std::size_t c : raw) cuts.push_back(c % (input.size() + 1));
    std::sort(cuts.begin(), cuts.end());
    const std::string whole = tessaly::test::WholeChain(input, o);
    FUZZ_CHECK(tessaly::test::PieceChain(input, cuts, o) == whole);
    if (!o.utf8) FUZZ_CHECK(tessaly::test::ByteRouteChain(input, cuts, o) == whole);
    return 0;
}
