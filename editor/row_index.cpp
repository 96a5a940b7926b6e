// Rows of wrapped lines, found lazily.
//
// Per line: its row count (exact once the line is laid out to its end, else
// the rows found so far plus an estimate from the length left), and for a
// line laid out past its first row the starts of the rows found so far,
// relative to the line's start (so an edit elsewhere leaves them valid). A
// row's start depends only on where the row before it started, so a layout
// resumes from the last row found.
//
// The per-line entries live in blocks of about a thousand lines, with the
// rows and lines of each block summed in two Fenwick trees over the blocks:
// a line made or removed moves at most one block's entries, and the trees
// are built again only when a block splits or goes.
#include "editor/row_index.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
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
constexpr std::size_t kBlockLines = 1024;  // lines per block as built
constexpr std::size_t kBlockMax = 2 * kBlockLines;

std::int32_t ToFixed(double advance) {
    if (!(advance > 0)) return 0;  // negative or NaN from the metrics
    return static_cast<std::int32_t>(std::llround(std::clamp(advance, 0.0, 1e7) * kFixedUnit));
}

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The rows of one piece of a line (the whole line unless it is cut in
// pieces), as offsets from the line's start.
struct Piece {
    std::vector<Pos> starts;  // empty: nothing laid out
    Pos next = 0;             // where the last row found ends
    bool complete = false;
};

struct LineRows {
    std::vector<Piece> pieces;
    std::vector<Pos> laid;  // the pieces with rows found, in order
    void NoteLaid(Pos j) {
        const auto it = std::lower_bound(laid.begin(), laid.end(), j);
        if (it == laid.end() || *it != j) laid.insert(it, j);
    }
};

struct Entry {
    Pos count = 1;                    // rows of the line
    std::unique_ptr<LineRows> rows;   // null: no starts kept
    bool single = false;              // laid out: exactly one row
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

// The per-line entries, in blocks. A block made by Assign holds only the sum
// of its lines' estimated rows until one of its lines is looked at: then its
// entries are made from the estimates (what a text of millions of lines
// costs when it is set is one pass over its line starts, not an entry a line).
class LineTable {
public:
    struct Block {
        std::vector<Entry> lines;  // empty while the block is not made yet
        Pos size = 0;              // its lines
        Pos rows = 0;
        bool made = true;
    };

    // The estimated rows of a line of the text (nothing laid out), for the
    // blocks made on first sight.
    std::function<Pos(Pos line)> estimate;

    // n lines with the given counts (asked in order), the blocks not made.
    template <typename CountOf>
    void Assign(Pos n, CountOf countOf) {
        blocks_.clear();
        blocks_.reserve(static_cast<std::size_t>(n / static_cast<Pos>(kBlockLines) + 1));
        for (Pos first = 0; first < n || blocks_.empty(); first += kBlockLines) {
            Block b;
            const Pos end = std::min<Pos>(n, first + kBlockLines);
            b.size = end - first;
            for (Pos i = first; i < end; ++i) b.rows += countOf(i);
            b.made = b.size == 0;
            blocks_.push_back(std::move(b));
        }
        mapAfter_ = std::numeric_limits<Pos>::max();
        BuildTrees();
    }
    Pos Lines() const { return lineTree_.Total(); }
    Pos Rows() const { return rowTree_.Total(); }

    // While the text has changed and the entries not yet: the entries after
    // line after are those of the text's lines delta further on.
    void MapAfter(Pos after, Pos delta) {
        mapAfter_ = after;
        mapDelta_ = delta;
    }
    void MapNone() { mapAfter_ = std::numeric_limits<Pos>::max(); }

    Entry& At(Pos line) {
        const std::size_t b = MadeBlockOf(line);
        return blocks_[b].lines[static_cast<std::size_t>(line - cacheFirst_)];
    }
    void SetCount(Pos line, Pos count) {
        const std::size_t b = MadeBlockOf(line);
        Entry& e = blocks_[b].lines[static_cast<std::size_t>(line - cacheFirst_)];
        if (e.count == count) return;
        const Pos delta = count - e.count;
        e.count = count;
        blocks_[b].rows += delta;
        rowTree_.Add(b, delta);
    }
    // Rows before line.
    Pos RowsBefore(Pos line) {
        const std::size_t b = MadeBlockOf(line);
        Pos sum = rowTree_.Prefix(b);
        const auto& lines = blocks_[b].lines;
        for (Pos i = cacheFirst_; i < line; ++i) sum += lines[static_cast<std::size_t>(i - cacheFirst_)].count;
        return sum;
    }
    // The line that holds row number (0 <= number < Rows()); before = the
    // rows before that line.
    Pos LineOfRow(Pos number, Pos& before) {
        std::size_t b = rowTree_.Find(number, before);
        if (b >= blocks_.size()) b = blocks_.size() - 1;
        if (!blocks_[b].made) {
            // Its entries may sum to other rows than the block held.
            Make(b, lineTree_.Prefix(b));
            number = std::clamp<Pos>(number, 0, Rows() - 1);
            b = std::min(rowTree_.Find(number, before), blocks_.size() - 1);
            if (!blocks_[b].made) Make(b, lineTree_.Prefix(b));
        }
        const Pos line = lineTree_.Prefix(b);
        const auto& lines = blocks_[b].lines;
        std::size_t i = 0;
        while (i + 1 < lines.size() && before + lines[i].count <= number) {
            before += lines[i].count;
            ++i;
        }
        return line + static_cast<Pos>(i);
    }
    // Inserts n new entries (one row each, nothing laid out) before line at.
    void Insert(Pos at, Pos n) {
        if (n <= 0) return;
        const std::size_t b = at >= Lines() ? blocks_.size() - 1 : MadeBlockOf(at);
        if (!blocks_[b].made) Make(b, lineTree_.Prefix(b));
        const Pos first = lineTree_.Prefix(b);
        Block& block = blocks_[b];
        std::vector<Entry> fresh(static_cast<std::size_t>(n));
        block.lines.insert(block.lines.begin() + static_cast<std::ptrdiff_t>(at - first),
                           std::make_move_iterator(fresh.begin()), std::make_move_iterator(fresh.end()));
        block.size += n;
        block.rows += n;
        if (block.lines.size() > kBlockMax) {
            Split(b);
        } else {
            rowTree_.Add(b, n);
            lineTree_.Add(b, n);
        }
        cacheBlock_ = SIZE_MAX;
    }
    // Removes the entries of lines [at, at + n).
    void Erase(Pos at, Pos n) {
        if (n <= 0) return;
        // The blocks cut in part are made first, while lines have their
        // numbers; blocks that go whole go without being made.
        MadeBlockOf(at);
        MadeBlockOf(at + n - 1);
        bool rebuild = false;
        while (n > 0) {
            const std::size_t b = BlockOf(at);
            Block& block = blocks_[b];
            const Pos offset = at - cacheFirst_;
            const Pos take = std::min<Pos>(n, block.size - offset);
            Pos rows = 0;
            if (block.made) {
                for (Pos i = offset; i < offset + take; ++i) rows += block.lines[static_cast<std::size_t>(i)].count;
                block.lines.erase(block.lines.begin() + offset, block.lines.begin() + offset + take);
            } else {
                rows = block.rows;  // taken whole
            }
            block.size -= take;
            block.rows -= rows;
            n -= take;
            if (block.size == 0 && blocks_.size() > 1) {
                blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(b));
                BuildTrees();
                rebuild = true;
            } else if (!rebuild) {
                block.made = true;
                rowTree_.Add(b, -rows);
                lineTree_.Add(b, -take);
            } else {
                block.made = true;
                BuildTrees();
            }
            cacheBlock_ = SIZE_MAX;
        }
    }

private:
    std::size_t BlockOf(Pos line) {
        if (cacheBlock_ < blocks_.size() && line >= cacheFirst_ && line < cacheFirst_ + blocks_[cacheBlock_].size)
            return cacheBlock_;
        Pos before = 0;
        std::size_t b = lineTree_.Find(std::min(line, std::max<Pos>(0, Lines() - 1)), before);
        if (b >= blocks_.size()) {
            b = blocks_.size() - 1;
            before = lineTree_.Prefix(b);
        }
        cacheBlock_ = b;
        cacheFirst_ = before;
        return b;
    }
    std::size_t MadeBlockOf(Pos line) {
        const std::size_t b = BlockOf(line);
        if (!blocks_[b].made) Make(b, cacheFirst_);
        return b;
    }
    // Makes the entries of block b, whose first line is first.
    void Make(std::size_t b, Pos first) {
        Block& block = blocks_[b];
        block.lines.resize(static_cast<std::size_t>(block.size));
        Pos rows = 0;
        for (Pos i = 0; i < block.size; ++i) {
            const Pos line = first + i;
            Entry& e = block.lines[static_cast<std::size_t>(i)];
            e.count = estimate ? estimate(line > mapAfter_ ? line + mapDelta_ : line) : 1;
            rows += e.count;
        }
        block.made = true;
        if (rows != block.rows) {
            rowTree_.Add(b, rows - block.rows);
            block.rows = rows;
        }
    }
    void Split(std::size_t b) {
        Block& block = blocks_[b];
        Block tail;
        const std::size_t half = block.lines.size() / 2;
        tail.lines.assign(std::make_move_iterator(block.lines.begin() + static_cast<std::ptrdiff_t>(half)),
                          std::make_move_iterator(block.lines.end()));
        block.lines.resize(half);
        block.size = static_cast<Pos>(half);
        tail.size = static_cast<Pos>(tail.lines.size());
        block.rows = 0;
        for (const Entry& e : block.lines) block.rows += e.count;
        for (const Entry& e : tail.lines) tail.rows += e.count;
        blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(b + 1), std::move(tail));
        BuildTrees();
    }
    void BuildTrees() {
        std::vector<Pos> rows(blocks_.size()), lines(blocks_.size());
        for (std::size_t i = 0; i < blocks_.size(); ++i) {
            rows[i] = blocks_[i].rows;
            lines[i] = blocks_[i].size;
        }
        rowTree_.Build(rows);
        lineTree_.Build(lines);
        cacheBlock_ = SIZE_MAX;
    }

    std::vector<Block> blocks_;
    Fenwick rowTree_, lineTree_;
    std::size_t cacheBlock_ = SIZE_MAX;
    Pos cacheFirst_ = 0;
    Pos mapAfter_ = std::numeric_limits<Pos>::max();
    Pos mapDelta_ = 0;
};

// Advances of the BMP, in pages of 256 filled on first sight; pages not yet
// seen share one page of unknowns, so the lookup needs no test.
class AdvanceTable {
public:
    AdvanceTable() { pages_.fill(Unknown()); }
    std::int32_t operator[](char16_t c) const { return pages_[c >> 8][c & 0xFF]; }
    void Set(char16_t c, std::int32_t a) {
        const std::int32_t*& page = pages_[c >> 8];
        if (page == Unknown()) {
            owned_.push_back(std::make_unique<std::int32_t[]>(256));
            std::fill_n(owned_.back().get(), 256, kUnknown);
            page = owned_.back().get();
        }
        const_cast<std::int32_t*>(page)[c & 0xFF] = a;
    }
    void Clear() {
        pages_.fill(Unknown());
        owned_.clear();
    }

private:
    static const std::int32_t* Unknown() {
        static const std::vector<std::int32_t> unknown(256, kUnknown);
        return unknown.data();
    }
    std::array<const std::int32_t*, 256> pages_;
    std::vector<std::unique_ptr<std::int32_t[]>> owned_;
};

}  // namespace

struct RowIndex::Impl {
    const TextBuffer& buffer;
    double width = std::numeric_limits<double>::infinity();
    CharMetrics metrics;
    RowBreaker breaker;
    bool useBreaker = false;
    double average = 1;  // estimated advance of a unit

    AdvanceTable advance;
    std::unordered_map<char16_t, std::pair<std::int32_t, bool>> special;  // advance, joins
    std::unordered_map<char32_t, std::pair<std::int32_t, bool>> astral;

    LineTable table;

    explicit Impl(const TextBuffer& b) : buffer(b) {
        table.estimate = [this](Pos line) {
            return LineEstimate(LineLength(std::clamp<Pos>(line, 0, buffer.LineCount() - 1)));
        };
    }

    double Measure(char32_t c) const { return metrics.advance ? metrics.advance(c) : 1.0; }
    bool Joins(char32_t c) const {
        if (useBreaker) return breaker.joinsPrevious ? breaker.joinsPrevious(c) : false;
        return metrics.joinsPrevious ? metrics.joinsPrevious(c) : false;
    }

    void Learn(char16_t c) {
        const std::int32_t a = ToFixed(Measure(c));
        const bool j = Joins(c);
        if (c == u'\t' || IsHigh(c) || IsLow(c) || j) {
            advance.Set(c, kSpecial);
            special[c] = {a, j};
        } else {
            advance.Set(c, a);
        }
    }
    std::pair<std::int32_t, bool> Astral(char32_t cp) {
        auto it = astral.find(cp);
        if (it == astral.end()) it = astral.emplace(cp, std::make_pair(ToFixed(Measure(cp)), Joins(cp))).first;
        return it->second;
    }

    Pos Estimate(Pos units) const {
        if (units <= 0) return 0;
        if (useBreaker) {
            const double per = std::max(1.0, breaker.unitsPerRow);
            return std::clamp<Pos>(static_cast<Pos>(std::min(std::ceil(units / per), 9e18)), 1, units);
        }
        if (!(width < std::numeric_limits<double>::infinity())) return 1;
        if (width <= 0) return units;
        const double rows = std::ceil(static_cast<double>(units) * average / width);
        return std::clamp<Pos>(static_cast<Pos>(std::min(rows, 9e18)), 1, units);
    }
    Pos LineLength(Pos line) const { return buffer.LineEnd(line) - buffer.LineStart(line); }

    // --- Pieces of a line ---
    Pos PieceLength() const { return useBreaker && breaker.piece > 0 ? breaker.piece : 0; }
    Pos PieceCount(Pos length) const {
        const Pos p = PieceLength();
        if (p == 0 || length <= p) return 1;
        return (length + p - 1) / p;
    }
    // Offset where piece j of a line starts: j times the piece length, moved
    // back so that it never splits a character from what joins it.
    Pos PieceStart(Pos lineStart, Pos length, Pos j) const {
        if (j <= 0) return 0;
        Pos b = std::min(j * PieceLength(), length);
        for (int guard = 0; guard < 32 && b > 1; ++guard) {
            const char16_t c = buffer.At(lineStart + b);
            const char16_t before = buffer.At(lineStart + b - 1);
            char32_t cp = c;
            if (IsHigh(c) && b + 1 < length && IsLow(buffer.At(lineStart + b + 1)))
                cp = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(buffer.At(lineStart + b + 1)) - 0xDC00);
            if (IsLow(c) || before == 0x200D || Joins(cp)) {
                --b;
                continue;
            }
            break;
        }
        return b;
    }
    // Estimated rows of piece j when not laid out: from its nominal length,
    // so that the estimate does not depend on the text.
    Pos PieceEstimate(Pos length, Pos j, Pos count) const {
        const Pos p = PieceLength();
        if (p == 0 || count == 1) return std::max<Pos>(1, Estimate(length));
        const Pos nominal = j + 1 < count ? p : length - (count - 1) * p;
        return std::max<Pos>(1, Estimate(nominal));
    }
    Pos PieceRows(const Piece& piece, Pos length, Pos j, Pos count, Pos pieceEnd) const {
        if (piece.starts.empty()) return PieceEstimate(length, j, count);
        if (piece.complete || piece.next >= pieceEnd) return static_cast<Pos>(piece.starts.size());
        return static_cast<Pos>(piece.starts.size()) + std::max<Pos>(1, Estimate(pieceEnd - piece.next));
    }

    // Estimated rows of a line of length units, nothing of it laid out.
    Pos LineEstimate(Pos length) const {
        const Pos count = PieceCount(length);
        if (count == 1) return std::max<Pos>(1, Estimate(length));
        return (count - 1) * PieceEstimate(length, 0, count) + PieceEstimate(length, count - 1, count);
    }

    Pos CountOf(Pos line) {
        Entry& e = table.At(line);
        if (e.single) return 1;
        const Pos length = LineLength(line);
        const Pos count = PieceCount(length);
        if (!e.rows) return LineEstimate(length);
        Pos sum = LineEstimate(length);
        const Pos lineStart = buffer.LineStart(line);
        for (const Pos j : e.rows->laid) sum += LaidDelta(*e.rows, lineStart, length, j, count);
        return sum;
    }
    // Rows found in laid-out piece j beyond its estimate.
    Pos LaidDelta(const LineRows& r, Pos lineStart, Pos length, Pos j, Pos count) const {
        const Pos end = j + 1 < count ? PieceStart(lineStart, length, j + 1) : length;
        return PieceRows(r.pieces[static_cast<std::size_t>(j)], length, j, count, end) - PieceEstimate(length, j, count);
    }
    void Refresh(Pos line) { table.SetCount(line, CountOf(line)); }

    // A line of one row keeps no starts.
    void Compact(Pos line) {
        Entry& e = table.At(line);
        if (e.rows && e.rows->pieces.size() == 1 && e.rows->pieces[0].complete &&
            e.rows->pieces[0].starts.size() == 1) {
            e.rows.reset();
            e.single = true;
        }
    }

    void RebuildAll() {
        const Pos lines = buffer.LineCount();
        Pos start = 0;
        Pos next = 0;
        table.Assign(lines, [&](Pos i) {
            next = i + 1 < lines ? buffer.LineStart(i + 1) : buffer.Length() + 2;
            const Pos length = next - 2 - start;
            start = next;
            return LineEstimate(length);
        });
    }

    Piece& PieceOf(Pos line, Pos j) {
        Entry& e = table.At(line);
        if (!e.rows) e.rows = std::make_unique<LineRows>();
        const Pos count = PieceCount(LineLength(line));
        if (static_cast<Pos>(e.rows->pieces.size()) != count) e.rows->pieces.resize(static_cast<std::size_t>(count));
        if (e.single) {  // known to be one row: only its extent is missing
            e.single = false;
            Piece& p = e.rows->pieces[0];
            p.starts.assign(1, 0);
            p.next = LineLength(line);
            p.complete = true;
            e.rows->NoteLaid(0);
        }
        return e.rows->pieces[static_cast<std::size_t>(j)];
    }

    // Lays piece j of line out further until it has more than wantRows rows,
    // or a row that ends after wantOffset, or all of them.
    Piece& Extend(Pos line, Pos j, Pos wantRows, Pos wantOffset) {
        Piece& rows = PieceOf(line, j);
        if (rows.complete) return rows;
        const Pos lineStart = buffer.LineStart(line);
        const Pos length = buffer.LineEnd(line) - lineStart;
        const Pos count = PieceCount(length);
        const Pos from = PieceStart(lineStart, length, j);
        const Pos to = j + 1 < count ? PieceStart(lineStart, length, j + 1) : length;
        if (!rows.starts.empty() && rows.next >= to) {
            rows.complete = true;
            return rows;
        }
        if (!rows.starts.empty() && (static_cast<Pos>(rows.starts.size()) > wantRows || rows.next > wantOffset))
            return rows;
        if (rows.starts.empty()) {
            rows.next = from;
            table.At(line).rows->NoteLaid(j);
        }
        if (to <= from) {
            rows.starts.assign(1, from);
            rows.next = from;
            rows.complete = true;
            return rows;
        }
        if (useBreaker) {
            while (rows.next < to) {
                const Pos start = rows.next;
                Pos end = breaker.rowEnd ? breaker.rowEnd(lineStart + start, lineStart + to) - lineStart : to;
                end = std::clamp(end, start + 1, to);
                rows.starts.push_back(start);
                rows.next = end;
                if (static_cast<Pos>(rows.starts.size()) > wantRows || end > wantOffset) break;
            }
            if (rows.next >= to) rows.complete = true;
            return rows;
        }
        ExtendByAdvances(rows, lineStart, length, wantRows, wantOffset);
        return rows;
    }

    void ExtendByAdvances(Piece& rows, Pos lineStart, Pos length, Pos wantRows, Pos wantOffset) {
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
            while (i < n) {
                {  // the run of plain characters that fit: the hot loop
                    Fixed x = acc;
                    Pos j = i;
                    for (; j < n; ++j) {
                        const std::int32_t a = advance[p[j]];
                        if (a < 0 || x + a > w) break;
                        x += a;
                    }
                    acc = x;
                    i = j;
                    if (i >= n) break;
                }
                const char16_t c = p[i];
                const std::int32_t a = advance[c];
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
                const auto sp = special[c];
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
                        adv = sp.first;
                        joining = sp.second;
                    }
                } else {
                    adv = sp.first;
                    joining = sp.second;
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
    }

    // Keeps of line's rows those that end at least two units before offset
    // (the units up to a row's end, and the unit after it, decide the row);
    // pieces that start near or after offset go.
    void Truncate(Pos line, Pos offset) {
        Entry& e = table.At(line);
        e.single = false;
        if (!e.rows) return;
        auto& pieces = e.rows->pieces;
        const Pos p = PieceLength();
        std::size_t j = 0;
        if (p > 0) {
            // The piece starts near the edit may move: keep whole pieces only
            // up to the one holding offset - 64.
            j = static_cast<std::size_t>(std::max<Pos>(0, offset - 64) / p);
            if (j > 0 && j < pieces.size() && !pieces[j].starts.empty() && pieces[j].starts[0] > offset - 64) --j;
        }
        auto& laid = e.rows->laid;
        while (!laid.empty() && laid.back() > static_cast<Pos>(j)) {
            pieces[static_cast<std::size_t>(laid.back())] = Piece{};
            laid.pop_back();
        }
        const Pos count = PieceCount(LineLength(line));
        if (static_cast<Pos>(pieces.size()) != count) pieces.resize(static_cast<std::size_t>(count));
        if (j >= pieces.size()) {
            if (laid.empty()) e.rows.reset();
            return;
        }
        Piece& rows = pieces[j];
        const Pos found = static_cast<Pos>(rows.starts.size());
        // rows.starts[k + 1] is where row k ends; the last found ends at next.
        auto endOf = [&](Pos k) { return k + 1 < found ? rows.starts[k + 1] : rows.next; };
        Pos lo = 0, hi = found;  // first k whose end > offset - 2
        while (lo < hi) {
            const Pos mid = (lo + hi) / 2;
            if (endOf(mid) <= offset - 2) lo = mid + 1; else hi = mid;
        }
        if (lo == 0) {
            rows = Piece{};
            if (!laid.empty() && laid.back() == static_cast<Pos>(j)) laid.pop_back();
        } else {
            rows.next = endOf(lo - 1);
            rows.starts.resize(static_cast<std::size_t>(lo));
            rows.complete = false;
        }
        if (laid.empty()) e.rows.reset();
    }

    // Row k of line (counting estimated rows of pieces not laid out), laying
    // out what it needs to. False when the count changed on the way (the
    // caller asks again).
    bool RowInLine(Pos line, Pos k, Row& out) {
        const Pos lineStart = buffer.LineStart(line);
        const Pos length = LineLength(line);
        const Pos count = PieceCount(length);
        // The piece that holds row k: pieces not laid out count their estimate.
        Pos j = 0, before = 0;
        {
            Entry& e = table.At(line);
            const Pos each = PieceEstimate(length, 0, count);
            Pos from = 0;  // first piece not yet counted
            bool found = false;
            if (e.rows && !e.single) {
                for (const Pos i : e.rows->laid) {
                    if (k < before + (i - from) * each) break;
                    before += (i - from) * each;
                    const Pos here = LaidDelta(*e.rows, lineStart, length, i, count) + PieceEstimate(length, i, count);
                    if (k < before + here || i + 1 == count) {
                        j = i;
                        found = true;
                        break;
                    }
                    before += here;
                    from = i + 1;
                }
            }
            if (!found) {
                j = std::min(count - 1, from + (k - before) / std::max<Pos>(1, each));
                before += (j - from) * each;
            }
        }
        const Pos kk = k - before;
        Piece& rows = Extend(line, j, kk + 16, std::numeric_limits<Pos>::max());
        if (kk < 0 || kk >= static_cast<Pos>(rows.starts.size())) return false;
        const Pos rowEnd = kk + 1 < static_cast<Pos>(rows.starts.size()) ? rows.starts[kk + 1] : rows.next;
        out = Row{line, k, lineStart + rows.starts[kk], lineStart + rowEnd, 0};
        return true;
    }

    // Rows of the pieces of line before piece j.
    Pos RowsBeforePiece(Pos line, Pos j) {
        if (j == 0) return 0;
        const Pos lineStart = buffer.LineStart(line);
        const Pos length = LineLength(line);
        const Pos count = PieceCount(length);
        Entry& e = table.At(line);
        Pos sum = j * PieceEstimate(length, 0, count);
        if (e.rows) {
            for (const Pos i : e.rows->laid) {
                if (i >= j) break;
                sum += LaidDelta(*e.rows, lineStart, length, i, count);
            }
        }
        return sum;
    }
};

RowIndex::RowIndex(const TextBuffer& buffer) : impl_(std::make_unique<Impl>(buffer)) { impl_->RebuildAll(); }
RowIndex::~RowIndex() = default;

void RowIndex::Reset(double width, CharMetrics metrics) {
    Impl& m = *impl_;
    m.useBreaker = false;
    m.breaker = RowBreaker{};
    m.width = width;
    m.metrics = std::move(metrics);
    m.advance.Clear();
    m.special.clear();
    m.astral.clear();
    double sum = 0;
    const char16_t* sample = u"0123456789ABCDEF%abcdefghijklmnopqrstuvwxyz";
    int n = 0;
    for (const char16_t* s = sample; *s; ++s, ++n) sum += std::max(0.0, m.Measure(*s));
    m.average = n > 0 && sum > 0 ? sum / n : 1;
    m.RebuildAll();
}

void RowIndex::Reset(RowBreaker breaker) {
    Impl& m = *impl_;
    m.useBreaker = true;
    m.breaker = std::move(breaker);
    m.metrics = CharMetrics{};
    m.advance.Clear();
    m.special.clear();
    m.astral.clear();
    m.RebuildAll();
}

void RowIndex::OnTextChanged(const TextChange& change) {
    Impl& m = *impl_;
    if (change.wholeText ||
        m.table.Lines() + change.linesInserted - change.linesRemoved != m.buffer.LineCount()) {
        m.RebuildAll();
        return;
    }
    const Pos first = change.firstLine;
    // Until the entries follow, those past the change are of lines moved by it.
    m.table.MapAfter(first + change.linesRemoved, change.linesInserted - change.linesRemoved);
    m.Truncate(first, change.pos - m.buffer.LineStart(first));
    const Pos common = std::min(change.linesRemoved, change.linesInserted);
    for (Pos i = 1; i <= common; ++i) {
        Entry& e = m.table.At(first + i);
        e.rows.reset();
        e.single = false;
    }
    if (change.linesRemoved > change.linesInserted) {
        m.table.Erase(first + 1 + common, change.linesRemoved - change.linesInserted);
    } else if (change.linesInserted > change.linesRemoved) {
        m.table.Insert(first + 1 + common, change.linesInserted - change.linesRemoved);
    }
    m.table.MapNone();
    for (Pos i = 0; i <= change.linesInserted; ++i) m.Refresh(first + i);
}

Pos RowIndex::RowCount() const { return impl_->table.Rows(); }

RowIndex::Row RowIndex::RowAt(Pos number) {
    Impl& m = *impl_;
    for (;;) {
        number = std::clamp<Pos>(number, 0, m.table.Rows() - 1);
        Pos before = 0;
        const Pos line = m.table.LineOfRow(number, before);
        Row row;
        const bool found = m.RowInLine(line, number - before, row);
        m.Refresh(line);
        if (found) {
            row.number = number;
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
    const Pos length = m.buffer.LineEnd(line) - lineStart;
    const Pos offset = std::min(pos - lineStart, length);
    const Pos count = m.PieceCount(length);
    Pos j = 0;
    if (count > 1) {
        j = std::min(offset / m.PieceLength(), count - 1);
        while (j > 0 && offset < m.PieceStart(lineStart, length, j)) --j;
        while (j + 1 < count && offset >= m.PieceStart(lineStart, length, j + 1)) ++j;
        if (atRowEnd && j > 0 && offset == m.PieceStart(lineStart, length, j)) {
            --j;  // the end of the last row of the piece before
            const Piece& rows = m.Extend(line, j, std::numeric_limits<Pos>::max(), std::numeric_limits<Pos>::max());
            const Pos k = static_cast<Pos>(rows.starts.size()) - 1;
            const Row row{line, 0, lineStart + rows.starts[k], lineStart + rows.next, 0};
            m.Refresh(line);
            const Pos inLine = m.RowsBeforePiece(line, j) + k;
            return Row{line, inLine, row.start, row.end, m.table.RowsBefore(line) + inLine};
        }
    }
    const Piece& rows = m.Extend(line, j, std::numeric_limits<Pos>::max(), offset);
    const auto& s = rows.starts;
    Pos k = static_cast<Pos>(std::upper_bound(s.begin(), s.end(), offset) - s.begin()) - 1;
    if (k < 0) k = 0;
    if (atRowEnd && k > 0 && s[k] == offset) --k;
    const Pos start = lineStart + s[k];
    const Pos end = lineStart + (k + 1 < static_cast<Pos>(s.size()) ? s[k + 1] : rows.next);
    m.Refresh(line);
    const Pos inLine = m.RowsBeforePiece(line, j) + k;
    const Row row{line, inLine, start, end, m.table.RowsBefore(line) + inLine};
    m.Compact(line);
    return row;
}

bool RowIndex::Next(const Row& row, Row& next) {
    const TextBuffer& b = impl_->buffer;
    if (row.end < b.LineEnd(row.line)) {
        next = RowOf(row.end);
        return true;
    }
    if (row.line + 1 >= b.LineCount()) return false;
    next = RowOf(b.LineStart(row.line + 1));
    return true;
}

bool RowIndex::Previous(const Row& row, Row& previous) {
    const TextBuffer& b = impl_->buffer;
    if (row.start > b.LineStart(row.line)) {
        previous = RowOf(row.start, true);
        return true;
    }
    if (row.line == 0) return false;
    previous = RowOf(b.LineEnd(row.line - 1), true);
    return true;
}

}  // namespace tessaly
