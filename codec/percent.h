// URL encoding and decoding of text through its code page 932 bytes.
#pragma once

#include <string>
#include <string_view>

namespace tessaly {

// Every code-page byte outside printable ASCII becomes "%XX". With crLfAsAmp,
// CR LF becomes "&".
std::u16string Encode(std::u16string_view text, bool crLfAsAmp);

// Reverses Encode: an escape is decoded together with the unit after it (a
// second escape or one literal character). With crLfAsAmp, "&" outside an
// escape unit becomes CR LF.
std::u16string Decode(std::u16string_view text, bool crLfAsAmp);

}  // namespace tessaly
