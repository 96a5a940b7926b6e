// Rows of wrapped lines, found lazily.
//
// Per line: its row count in a Fenwick tree (exact once the line is laid out
// to its end, else the rows found so far plus an estimate from the length
// left), and for a line laid out past its first row the starts of the rows
// found so far, relative to the line's start (so an edit elsewhere leaves
// them valid). A row's start depends only on where the row before it started,
// so a layout can resume from the last row found.
#include "editor/row_index.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>

namespace tessaly {

namespace {

// Advances are kept in 1/64ths (what font metrics are made of), so that a
// row sums integers.
using Fixed = std::int64_t;
constexpr std::int32_t kUnknown = -1;
constexpr std::int32_t kSpecial = -2;  // TAB, surrogates, joining characters
constexpr double kFixedUnit = 64;

std::int32_t ToFixed(double advance) {
    return static_cast<std::int32_t>(std::llround(std::clamp(advance, 0.0, 1e7) * kFixedUnit));
}

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

struct LineRows {
    std::vector<Pos> starts;  // offsets of the rows found, from the line's start
    Pos next = 0;             // where the last row found ends
    bool complete = false;
};

class Fenwick {
public:
    void Build(const std::vector<Pos>& values) {
        tree_.assign(values.begin(), values.end());
        const std::size_t n = tree_.size();
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t j = i | (i + 1);
            if (j < n) tree_[j] += tree_[i];
        }
        total_ = 0;
        for (Pos v : values) total_ += v;
    }
    void Add(std::size_t i, Pos delta) {
        total_ += delta;
        for (; i < tree_.size(); i |= i + 1) tree_[i] += delta;
    }
    Pos Prefix(std::size_t end) const {  // sum of [0, end)
        Pos sum = 0;
        for (std::size_t i = end; i > 0; i &= i - 1) sum += tree_[i - 1];
        return sum;
    }
    Pos Total() const { return total_; }
    // The index i with Prefix(i) <= target < Prefix(i + 1), given
    // 0 <= target < Total(); before = Prefix(i).
    std::size_t Find(Pos target, Pos& before) const {
        std::size_t pos = 0;
        std::size_t step = 1;
        while (step * 2 <= tree_.size()) step *= 2;
        before = 0;
        for (; step > 0; step /= 2) {
            const std::size_t next = pos + step;
            if (next <= tree_.size() && before + tree_[next - 1] <= target) {
                pos = next;
                before += tree_[next - 1];
            }
        }
        return pos;
    }

private:
    std::vector<Pos> tree_;
    Pos total_ = 0;
};

}  // namespace

struct RowIndex::Impl {
    const TextBuffer& buffer;
    double width = std::numeric_limits<double>::infinity();
    CharMetrics metrics;
    double average = 1;  // estimated advance of a unit

    std::vector<std::int32_t> advance = std::vector<std::int32_t>(65536, kUnknown);
    std::vector<std::int32_t> specialAdvance = std::vector<std::int32_t>(65536, 0);
    std::vector<bool> joins = std::vector<bool>(65536, false);
    std::unordered_map<char32_t, std::pair<std::int32_t, bool>> astral;

    std::vector<Pos> counts;                        // rows of each line
    std::vector<std::unique_ptr<LineRows>> layouts;  // null: not laid out past row 0
    std::vector<bool> single;                        // laid out: exactly one row
    Fenwick tree;

    explicit Impl(const TextBuffer& b) : buffer(b) {}

    double Measure(char32_t c) const { return metrics.advance ? metrics.advance(c) : 1.0; }
    bool Joins(char32_t c) const { return metrics.joinsPrevious ? metrics.joinsPrevious(c) : false; }

    void Learn(char16_t c) {
        const std::int32_t a = ToFixed(Measure(c));
        const bool j = Joins(c);
        if (c == u'\t' || IsHigh(c) || IsLow(c) || j) {
            advance[c] = kSpecial;
            specialAdvance[c] = a;
            joins[c] = j;
        } else {
            advance[c] = a;
        }
    }
    std::pair<std::int32_t, bool> Astral(char32_t cp) {
        auto it = astral.find(cp);
        if (it == astral.end()) it = astral.emplace(cp, std::make_pair(ToFixed(Measure(cp)), Joins(cp))).first;
        return it->second;
    }

    Pos Estimate(Pos units) const {
        if (units <= 0) return 0;
        if (!(width < std::numeric_limits<double>::infinity())) return 1;
        if (width <= 0) return units;
        const double rows = std::ceil(static_cast<double>(units) * average / width);
        return std::clamp<Pos>(static_cast<Pos>(std::min(rows, 9e18)), 1, units);
    }
    Pos LineLength(Pos line) const { return buffer.LineEnd(line) - buffer.LineStart(line); }
    Pos CountOf(Pos line) const {
        if (single[line]) return 1;
        const LineRows* rows = layouts[line].get();
        if (!rows) return std::max<Pos>(1, Estimate(LineLength(line)));
        if (rows->complete) return static_cast<Pos>(rows->starts.size());
        return static_cast<Pos>(rows->starts.size()) + std::max<Pos>(1, Estimate(LineLength(line) - rows->next));
    }
    void Refresh(Pos line) {
        const Pos c = CountOf(line);
        if (c != counts[line]) {
            tree.Add(static_cast<std::size_t>(line), c - counts[line]);
            counts[line] = c;
        }
    }

    // A line of one row keeps no starts.
    void Compact(Pos line) {
        const LineRows* rows = layouts[line].get();
        if (rows && rows->complete && rows->starts.size() == 1) {
            layouts[line].reset();
            single[line] = true;
        }
    }

    void RebuildAll() {
        const Pos lines = buffer.LineCount();
        counts.assign(static_cast<std::size_t>(lines), 0);
        layouts.clear();
        layouts.resize(static_cast<std::size_t>(lines));
        single.assign(static_cast<std::size_t>(lines), false);
        Pos start = 0;
        for (Pos i = 0; i < lines; ++i) {
            const Pos next = i + 1 < lines ? buffer.LineStart(i + 1) : buffer.Length() + 2;
            counts[i] = std::max<Pos>(1, Estimate(next - 2 - start));
            start = next;
        }
        tree.Build(counts);
    }

    // Lays line out further until it has more than wantRows rows, or a row
    // that ends after wantOffset, or all of them.
    LineRows& Extend(Pos line, Pos wantRows, Pos wantOffset) {
        std::unique_ptr<LineRows>& slot = layouts[line];
        if (!slot) slot = std::make_unique<LineRows>();
        LineRows& rows = *slot;
        if (single[line]) {  // known to be one row: only its extent is missing
            rows.starts.assign(1, 0);
            rows.next = LineLength(line);
            rows.complete = true;
            single[line] = false;
            return rows;
        }
        if (rows.complete) return rows;
        if (!rows.starts.empty() && (static_cast<Pos>(rows.starts.size()) > wantRows || rows.next > wantOffset))
            return rows;
        const Pos lineStart = buffer.LineStart(line);
        const Pos length = buffer.LineEnd(line) - lineStart;
        if (length == 0) {
            rows.starts.assign(1, 0);
            rows.next = 0;
            rows.complete = true;
            return rows;
        }
        const Fixed w = width < 1e12 ? static_cast<Fixed>(std::floor(std::max(width, 0.0) * kFixedUnit))
                                     : std::numeric_limits<Fixed>::max() / 2;
        const Fixed tab = metrics.tabStop > 0 ? std::max<Fixed>(1, ToFixed(metrics.tabStop)) : 0;
        Pos rowStart = rows.next;  // offset of the row being built
        Fixed acc = 0;
        bool done = false;
        // Ends the row being built at offset end; true when enough is found.
        auto endRow = [&](Pos end) {
            rows.starts.push_back(rowStart);
            rows.next = end;
            rowStart = end;
            acc = 0;
            return static_cast<Pos>(rows.starts.size()) > wantRows || end > wantOffset;
        };
        const TextSegments segs = buffer.Segments(lineStart + rowStart, lineStart + length);
        const std::u16string_view parts[2] = {segs.first, segs.second};
        Pos off = rowStart;  // offset of parts[k][0]
        Pos skip = 0;        // units of a pair already counted
        for (int k = 0; k < 2 && !done; ++k) {
            const char16_t* p = parts[k].data();
            const Pos n = static_cast<Pos>(parts[k].size());
            Pos i = std::min(skip, n);
            skip -= i;
            const std::int32_t* table = advance.data();
            while (i < n) {
                {  // the run of plain characters that fit: the hot loop
                    Fixed x = acc;
                    Pos j = i;
                    for (; j < n; ++j) {
                        const std::int32_t a = table[p[j]];
                        if (a < 0 || x + a > w) break;
                        x += a;
                    }
                    acc = x;
                    i = j;
                    if (i >= n) break;
                }
                const char16_t c = p[i];
                const std::int32_t a = table[c];
                if (a >= 0) {  // a plain character that does not fit
                    if (off + i > rowStart && endRow(off + i)) {
                        done = true;
                        break;
                    }
                    acc += a;
                    ++i;
                    continue;
                }
                if (a == kUnknown) {  // first sight
                    Learn(c);
                    continue;
                }
                Fixed adv;
                bool joining = false;
                Pos units = 1;
                if (c == u'\t') {
                    adv = tab > 0 ? (acc / tab + 1) * tab - acc : 0;
                } else if (IsHigh(c) && off + i + 1 < length) {
                    const char16_t low = i + 1 < n ? p[i + 1] : buffer.At(lineStart + off + i + 1);
                    if (IsLow(low)) {
                        const char32_t cp = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(low) - 0xDC00);
                        const auto [pa, pj] = Astral(cp);
                        adv = pa;
                        joining = pj;
                        units = 2;
                    } else {
                        adv = specialAdvance[c];
                        joining = joins[c];
                    }
                } else {
                    adv = specialAdvance[c];
                    joining = joins[c];
                }
                if (!joining && acc + adv > w && off + i > rowStart) {
                    if (endRow(off + i)) { done = true; break; }
                    if (c == u'\t') adv = tab > 0 ? tab : 0;
                }
                acc += adv;
                i += units;
            }
            if (i > n) skip = i - n;
            off += n;
        }
        if (!done && rowStart < length) endRow(length);
        if (rows.next >= length) rows.complete = true;
        return rows;
    }

    // Keeps of line's rows those that end at least two units before offset
    // (the units up to a row's end, and the unit after it, decide the row).
    void Truncate(Pos line, Pos offset) {
        single[line] = false;
        LineRows* rows = layouts[line].get();
        if (!rows) return;
        Pos keep = 0;
        const Pos found = static_cast<Pos>(rows->starts.size());
        // rows->starts[k + 1] is where row k ends; the last found ends at next.
        auto endOf = [&](Pos k) { return k + 1 < found ? rows->starts[k + 1] : rows->next; };
        Pos lo = 0, hi = found;  // first k whose end > offset - 2
        while (lo < hi) {
            const Pos mid = (lo + hi) / 2;
            if (endOf(mid) <= offset - 2) lo = mid + 1; else hi = mid;
        }
        keep = lo;
        if (keep == 0) {
            layouts[line].reset();
            return;
        }
        rows->next = endOf(keep - 1);
        rows->starts.resize(static_cast<std::size_t>(keep));
        rows->complete = false;
    }
};

RowIndex::RowIndex(const TextBuffer& buffer) : impl_(std::make_shared<Impl>(buffer)) { impl_->RebuildAll(); }

void RowIndex::Reset(double width, CharMetrics metrics) {
    Impl& m = *impl_;
    m.width = width;
    m.metrics = std::move(metrics);
    std::fill(m.advance.begin(), m.advance.end(), kUnknown);
    m.astral.clear();
    double sum = 0;
    const char16_t* sample = u"0123456789ABCDEF%abcdefghijklmnopqrstuvwxyz";
    int n = 0;
    for (const char16_t* s = sample; *s; ++s, ++n) sum += std::max(0.0, m.Measure(*s));
    m.average = n > 0 && sum > 0 ? sum / n : 1;
    m.RebuildAll();
}

void RowIndex::OnTextChanged(const TextChange& change) {
    Impl& m = *impl_;
    if (change.wholeText || static_cast<Pos>(m.counts.size()) + change.linesInserted - change.linesRemoved !=
                                m.buffer.LineCount()) {
        m.RebuildAll();
        return;
    }
    const std::size_t first = static_cast<std::size_t>(change.firstLine);
    m.Truncate(change.firstLine, change.pos - m.buffer.LineStart(change.firstLine));
    if (change.linesRemoved == change.linesInserted) {
        for (Pos i = 1; i <= change.linesInserted; ++i) {
            m.layouts[first + i].reset();
            m.single[first + i] = false;
        }
        for (Pos i = 0; i <= change.linesInserted; ++i) m.Refresh(change.firstLine + i);
        return;
    }
    const auto eraseFrom = static_cast<std::ptrdiff_t>(first + 1);
    const auto removed = static_cast<std::ptrdiff_t>(change.linesRemoved);
    const auto inserted = static_cast<std::size_t>(change.linesInserted);
    m.counts.erase(m.counts.begin() + eraseFrom, m.counts.begin() + eraseFrom + removed);
    m.counts.insert(m.counts.begin() + eraseFrom, inserted, 0);
    m.layouts.erase(m.layouts.begin() + eraseFrom, m.layouts.begin() + eraseFrom + removed);
    std::vector<std::unique_ptr<LineRows>> fresh(inserted);
    m.layouts.insert(m.layouts.begin() + eraseFrom, std::make_move_iterator(fresh.begin()),
                     std::make_move_iterator(fresh.end()));
    m.single.erase(m.single.begin() + eraseFrom, m.single.begin() + eraseFrom + removed);
    m.single.insert(m.single.begin() + eraseFrom, inserted, false);
    for (Pos i = 0; i <= change.linesInserted; ++i) m.counts[first + i] = m.CountOf(change.firstLine + i);
    m.tree.Build(m.counts);
}

Pos RowIndex::RowCount() const { return impl_->tree.Total(); }

RowIndex::Row RowIndex::RowAt(Pos number) {
    Impl& m = *impl_;
    for (;;) {
        const Pos total = m.tree.Total();
        number = std::clamp<Pos>(number, 0, total - 1);
        Pos before = 0;
        const Pos line = static_cast<Pos>(m.tree.Find(number, before));
        const Pos k = number - before;
        LineRows& rows = m.Extend(line, k + 16, std::numeric_limits<Pos>::max());
        m.Refresh(line);
        if (k < static_cast<Pos>(rows.starts.size())) {
            const Pos lineStart = m.buffer.LineStart(line);
            const Pos end = k + 1 < static_cast<Pos>(rows.starts.size()) ? rows.starts[k + 1] : rows.next;
            const Row row{line, k, lineStart + rows.starts[k], lineStart + end, number};
            m.Compact(line);
            return row;
        }
    }
}

RowIndex::Row RowIndex::RowOf(Pos pos, bool atRowEnd) {
    Impl& m = *impl_;
    pos = std::clamp<Pos>(pos, 0, m.buffer.Length());
    const Pos line = m.buffer.LineOf(pos);
    const Pos lineStart = m.buffer.LineStart(line);
    const Pos offset = std::min(pos, m.buffer.LineEnd(line)) - lineStart;
    LineRows& rows = m.Extend(line, std::numeric_limits<Pos>::max(), offset);
    m.Refresh(line);
    const auto& s = rows.starts;
    Pos k = static_cast<Pos>(std::upper_bound(s.begin(), s.end(), offset) - s.begin()) - 1;
    if (k < 0) k = 0;
    if (atRowEnd && k > 0 && s[k] == offset) --k;
    const Pos end = k + 1 < static_cast<Pos>(s.size()) ? s[k + 1] : rows.next;
    const Row row{line, k, lineStart + s[k], lineStart + end, m.tree.Prefix(static_cast<std::size_t>(line)) + k};
    m.Compact(line);
    return row;
}

}  // namespace tessaly
