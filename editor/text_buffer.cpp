// The gap buffer and its line index.
//
// The line index holds the start of every line but the first, in order. Like
// a partitioning with a pending step, the starts after stepLine_ still lack
// stepDelta_: an edit shifts the starts after it by moving that step, not by
// touching each start, and the step is applied only when a start on its far
// side is looked at or changed.
#include "editor/text_buffer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessaly {

namespace {

constexpr char16_t kCr = u'\r';
constexpr char16_t kLf = u'\n';

// Appends base + i + 1 for every LF at p[i] whose unit before (p[i - 1], or
// prev for i == 0) is CR: the starts of the lines those CR LFs begin.
void ScanBreaks(const char16_t* p, std::size_t n, char16_t prev, Pos base, std::vector<Pos>& out) {
    std::size_t i = 0;
    auto check = [&](std::size_t k) {
        if (p[k] == kLf && (k == 0 ? prev : p[k - 1]) == kCr) out.push_back(base + static_cast<Pos>(k) + 1);
    };
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi16(kLf);
    for (; i + 32 <= n; i += 32) {
        const __m128i* q = reinterpret_cast<const __m128i*>(p + i);
        const __m128i a = _mm_packs_epi16(_mm_cmpeq_epi16(_mm_loadu_si128(q), lf),
                                          _mm_cmpeq_epi16(_mm_loadu_si128(q + 1), lf));
        const __m128i b = _mm_packs_epi16(_mm_cmpeq_epi16(_mm_loadu_si128(q + 2), lf),
                                          _mm_cmpeq_epi16(_mm_loadu_si128(q + 3), lf));
        // One bit a unit: the LFs among these 32.
        std::uint32_t mask = static_cast<std::uint32_t>(_mm_movemask_epi8(a)) |
                             static_cast<std::uint32_t>(_mm_movemask_epi8(b)) << 16;
        while (mask != 0) {
            check(i + static_cast<std::size_t>(__builtin_ctz(mask)));
            mask &= mask - 1;
        }
    }
#endif
    for (; i < n; ++i) check(i);
}

}  // namespace

struct TextBuffer::Impl {
    std::u16string buf;  // content before the gap, the gap, content after it
    Pos gapStart = 0;
    Pos gapLength = 0;

    std::vector<Pos> starts;  // starts of lines 1..n-1
    Pos stepLine = 0;         // starts at indices >= stepLine lack stepDelta
    Pos stepDelta = 0;

    TextChange last;

    Pos Length() const { return static_cast<Pos>(buf.size()) - gapLength; }
    const char16_t* Data() const { return buf.data(); }
    char16_t* Data() { return buf.data(); }
    char16_t UnitAt(Pos pos) const { return Data()[pos < gapStart ? pos : pos + gapLength]; }

    void MoveGap(Pos to) {
        if (to == gapStart) return;
        char16_t* d = Data();
        if (to < gapStart) {
            std::memmove(d + to + gapLength, d + to, (gapStart - to) * sizeof(char16_t));
        } else {
            std::memmove(d + gapStart, d + gapStart + gapLength, (to - gapStart) * sizeof(char16_t));
        }
        gapStart = to;
    }

    // Makes room for at least need units in the gap (which sits at gapStart).
    void Reserve(Pos need) {
        if (gapLength >= need) return;
        const Pos length = Length();
        const Pos newGap = std::max<Pos>({need, length / 8, 1024});
        if (static_cast<Pos>(buf.capacity()) >= length + newGap) {
            // The storage has room: the text after the gap moves to its end.
            const Pos tail = length - gapStart;
            buf.resize(static_cast<std::size_t>(length + newGap));
            char16_t* d = Data();
            std::memmove(d + gapStart + newGap, d + gapStart + gapLength, static_cast<std::size_t>(tail) * sizeof(char16_t));
            gapLength = newGap;
            return;
        }
        // Built by appending, so that only the gap is filled twice.
        std::u16string grown;
        grown.reserve(static_cast<std::size_t>(length + newGap));
        const char16_t* d = Data();
        grown.append(d, static_cast<std::size_t>(gapStart));
        grown.append(static_cast<std::size_t>(newGap), u'\0');
        grown.append(d + gapStart + gapLength, static_cast<std::size_t>(length - gapStart));
        buf.swap(grown);
        gapLength = newGap;
    }

    // --- line starts ---
    Pos StartCount() const { return static_cast<Pos>(starts.size()); }
    Pos StartAt(Pos i) const { return starts[i] + (i >= stepLine ? stepDelta : 0); }
    void ApplyStepTo(Pos end) {  // make indices < end exact
        if (end <= stepLine) return;
        if (stepDelta == 0) {
            stepLine = std::max(stepLine, end);
            return;
        }
        for (Pos i = stepLine; i < end; ++i) starts[i] += stepDelta;
        stepLine = end;
        if (stepLine >= StartCount()) {
            stepLine = StartCount();
            stepDelta = 0;
        }
    }
    void BackStepTo(Pos begin) {  // indices >= begin lack the step again
        for (Pos i = begin; i < stepLine; ++i) starts[i] -= stepDelta;
        stepLine = begin;
    }
    // Shifts the starts at indices >= from by delta.
    void Shift(Pos from, Pos delta) {
        if (delta == 0 || from >= StartCount()) return;
        if (stepDelta == 0) {
            stepLine = from;
            stepDelta = delta;
            return;
        }
        if (from >= stepLine) {
            ApplyStepTo(from);
            if (stepDelta == 0) stepLine = from;
            stepDelta += delta;
        } else if (stepLine - from < StartCount() / 8 + 64) {
            BackStepTo(from);
            stepDelta += delta;
        } else {
            ApplyStepTo(StartCount());
            stepLine = from;
            stepDelta = delta;
        }
        if (stepDelta == 0) stepLine = StartCount();
    }
    void ResetStarts() {
        starts.clear();
        stepLine = 0;
        stepDelta = 0;
    }
    // First index whose start is >= pos.
    Pos LowerBound(Pos pos) const {
        Pos lo = 0, hi = StartCount();
        while (lo < hi) {
            const Pos mid = lo + (hi - lo) / 2;
            if (StartAt(mid) < pos) lo = mid + 1; else hi = mid;
        }
        return lo;
    }

    void ScanRange(Pos from, Pos to, std::vector<Pos>& out) const {  // LFs at [from, to)
        if (from >= to) return;
        char16_t prev = from > 0 ? UnitAt(from - 1) : 0;
        const Pos a = std::min(to, std::max(from, gapStart));
        if (from < a) {
            ScanBreaks(Data() + from, a - from, prev, from, out);
            prev = Data()[a - 1];
        }
        if (a < to) ScanBreaks(Data() + a + gapLength, to - a, prev, a, out);
    }

    // Room for what an edit allocates, made before anything changes, so that
    // running out of memory (std::bad_alloc) leaves the text and its index as
    // they were: the gap for the inserted units, and the line index for the
    // breaks the edit can make (the LFs inserted, and one LF after the
    // inserted text when it ends with a CR).
    void ReserveFor(Pos length, std::u16string_view text, std::vector<Pos>& made) {
        const Pos inserted = static_cast<Pos>(text.size());
        if (inserted > length) Reserve(inserted - length);
        const Pos breaks = static_cast<Pos>(std::count(text.begin(), text.end(), kLf)) + 1;
        made.reserve(static_cast<std::size_t>(breaks));
        const std::size_t need = starts.size() + static_cast<std::size_t>(breaks);
        if (need > starts.capacity()) starts.reserve(std::max(need, starts.capacity() * 2));
    }

    // Replaces [pos, pos + length) by text, keeping the line index. Strong
    // guarantee: all allocation happens in ReserveFor.
    void Edit(Pos pos, Pos length, std::u16string_view text) {
        const Pos inserted = static_cast<Pos>(text.size());
        std::vector<Pos> made;
        ReserveFor(length, text, made);
        // Starts in [pos + 1, pos + length + 1] come from CR LFs that the edit
        // touches (the LF at pos, ... , the CR at pos + length - 1 and the LF
        // after it when a CR is removed at the end).
        const Pos first = LowerBound(pos + 1);
        const Pos lastIdx = LowerBound(pos + length + 2);
        if (lastIdx > first) {
            ApplyStepTo(lastIdx);
            starts.erase(starts.begin() + first, starts.begin() + lastIdx);
            stepLine = std::max<Pos>(first, std::min(stepLine - (lastIdx - first), StartCount()));
            if (stepLine >= StartCount()) { stepLine = StartCount(); stepDelta = 0; }
        }
        // The units themselves (the gap already has room for them).
        if (length > 0) {
            MoveGap(pos);
            gapLength += length;
        }
        if (inserted > 0) {
            MoveGap(pos);
            std::memcpy(Data() + gapStart, text.data(), inserted * sizeof(char16_t));  // inserted > 0
            gapStart += inserted;
            gapLength -= inserted;
        }
        Shift(first, inserted - length);
        // CR LFs now in the edited range or across its ends.
        ScanRange(std::max<Pos>(pos, 1), std::min(pos + inserted + 1, Length()), made);
        if (!made.empty()) {
            if (first > stepLine) ApplyStepTo(first);
            starts.insert(starts.begin() + first, made.begin(), made.end());
            if (stepLine >= first) stepLine += static_cast<Pos>(made.size());
            if (stepLine >= StartCount()) { stepLine = StartCount(); stepDelta = 0; }
        }
        last = TextChange{pos, length, inserted, first, lastIdx - first, static_cast<Pos>(made.size()), false, {}};
    }
};

TextBuffer::TextBuffer() : impl_(new Impl) {}
TextBuffer::~TextBuffer() { delete impl_; }

Pos TextBuffer::Length() const { return impl_->Length(); }
char16_t TextBuffer::At(Pos pos) const { return impl_->UnitAt(pos); }

std::u16string TextBuffer::Text(Pos from, Pos to) const {
    from = std::clamp<Pos>(from, 0, Length());
    to = std::clamp<Pos>(to, from, Length());
    std::u16string out(static_cast<std::size_t>(to - from), u'\0');
    CopyTo(from, to, out.data());
    return out;
}

std::u16string_view TextBuffer::View() const {
    impl_->MoveGap(impl_->Length());
    return {impl_->Data(), static_cast<std::size_t>(impl_->Length())};
}

TextSegments TextBuffer::Segments(Pos from, Pos to) const {
    const Impl& m = *impl_;
    from = std::clamp<Pos>(from, 0, m.Length());
    to = std::clamp<Pos>(to, from, m.Length());
    TextSegments s;
    const Pos a = std::min(to, std::max(from, m.gapStart));
    if (from < a) s.first = {m.Data() + from, static_cast<std::size_t>(a - from)};
    if (a < to) {
        std::u16string_view tail{m.Data() + a + m.gapLength, static_cast<std::size_t>(to - a)};
        if (s.first.empty()) s.first = tail; else s.second = tail;
    }
    return s;
}

void TextBuffer::CopyTo(Pos from, Pos to, char16_t* out) const {
    const TextSegments s = Segments(from, to);
    if (!s.first.empty()) std::memcpy(out, s.first.data(), s.first.size() * sizeof(char16_t));
    if (!s.second.empty())
        std::memcpy(out + s.first.size(), s.second.data(), s.second.size() * sizeof(char16_t));
}

TextEdit TextBuffer::Replace(Pos pos, Pos length, std::u16string_view text) {
    pos = std::clamp<Pos>(pos, 0, Length());
    length = std::clamp<Pos>(length, 0, Length() - pos);
    TextEdit inverse{pos, std::u16string(text), Text(pos, pos + length), false};
    impl_->Edit(pos, length, text);
    return inverse;
}

TextEdit TextBuffer::Apply(TextEdit&& edit) {
    if (edit.wholeText) return SetText(std::move(edit.inserted));
    const Pos pos = std::clamp<Pos>(edit.pos, 0, Length());
    const Pos length = std::clamp<Pos>(static_cast<Pos>(edit.removed.size()), 0, Length() - pos);
    if (length != static_cast<Pos>(edit.removed.size())) edit.removed = Text(pos, pos + length);
    impl_->Edit(pos, length, edit.inserted);
    return TextEdit{pos, std::move(edit.inserted), std::move(edit.removed), false};
}

TextEdit TextBuffer::SetText(std::u16string&& text) {
    Impl& m = *impl_;
    // The new line index first: running out of memory here changes nothing.
    std::vector<Pos> starts;
    ScanBreaks(text.data(), text.size(), 0, 0, starts);
    const Pos oldLength = m.Length();
    const Pos oldLines = LineCount();
    m.MoveGap(oldLength);
    m.buf.resize(static_cast<std::size_t>(oldLength));
    m.gapLength = 0;
    TextEdit inverse{0, {}, std::move(m.buf), true};
    m.buf = std::move(text);
    m.gapStart = static_cast<Pos>(m.buf.size());
    // Spare capacity the string came with becomes the gap, up to the gap a
    // growth would make (filling more would only touch memory no edit needs
    // yet: the rest is taken when the gap grows).
    m.gapLength = std::min(static_cast<Pos>(m.buf.capacity() - m.buf.size()),
                           std::max<Pos>(m.gapStart / 8, 1024));
    if (m.gapLength > 0) m.buf.resize(m.buf.size() + static_cast<std::size_t>(m.gapLength));
    m.starts = std::move(starts);
    m.stepLine = m.StartCount();
    m.stepDelta = 0;
    m.last = TextChange{0, oldLength, m.Length(), 0, oldLines - 1, LineCount() - 1, true, {}};
    return inverse;
}

std::uint64_t TextBuffer::EditBytes(Pos length, std::u16string_view text) const {
    const Impl& m = *impl_;
    const Pos inserted = static_cast<Pos>(text.size());
    std::uint64_t bytes = 0;
    if (inserted > length && m.gapLength < inserted - length) {
        // A new storage with its gap while the old one is still copied from.
        const Pos grown = m.Length() + std::max<Pos>({inserted - length, m.Length() / 8, 1024});
        bytes += static_cast<std::uint64_t>(grown) * sizeof(char16_t);
    }
    const std::size_t breaks = static_cast<std::size_t>(std::count(text.begin(), text.end(), kLf)) + 1;
    bytes += breaks * sizeof(Pos);
    if (m.starts.size() + breaks > m.starts.capacity())
        bytes += std::max(m.starts.size() + breaks, m.starts.capacity() * 2) * sizeof(Pos);
    return bytes;
}

Pos TextBuffer::LineCount() const { return impl_->StartCount() + 1; }

Pos TextBuffer::LineStart(Pos line) const {
    if (line <= 0) return 0;
    if (line >= LineCount()) return Length();
    return impl_->StartAt(line - 1);
}

Pos TextBuffer::LineEnd(Pos line) const {
    if (line + 1 >= LineCount()) return Length();
    if (line < 0) line = 0;
    return impl_->StartAt(line) - 2;
}

Pos TextBuffer::LineOf(Pos pos) const {
    // The number of starts <= pos.
    return impl_->LowerBound(pos + 1);
}

const TextChange& TextBuffer::LastChange() const { return impl_->last; }

std::uint64_t TextBuffer::Bytes() const {
    return impl_->buf.capacity() * sizeof(char16_t) + impl_->starts.capacity() * sizeof(Pos);
}

}  // namespace tessaly
