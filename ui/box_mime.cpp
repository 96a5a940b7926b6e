#include "ui/box_mime.h"

#include <algorithm>
#include <new>

#include "ui/edit_box.h"

namespace tessaly {

const QString& ExactTextFormat() {
    static const QString format = QStringLiteral("application/x-tessaly-exact-text");
    return format;
}

BoxMime::BoxMime(QString text) : text_(std::move(text)), eager_(true) {}

BoxMime::BoxMime(EditBox* box, Pos from, Pos to, quint64 generation)
    : box_(box), from_(from), to_(to), generation_(generation) {}

QStringList BoxMime::formats() const { return {QStringLiteral("text/plain"), ExactTextFormat()}; }

bool BoxMime::hasFormat(const QString& mime) const {
    return mime == QLatin1String("text/plain") || mime == ExactTextFormat();
}

bool BoxMime::Exact(QString& out) const {
    if (eager_) {
        out = text_;
        return true;
    }
    if (!box_ || box_->Generation() != generation_) return false;
    out = box::ToQString(box_->State().Buffer().Text(from_, to_));
    return true;
}

void BoxMime::KeepText(const TextChange& change, const TextBuffer& now) {
    if (eager_) return;
    box_ = nullptr;
    try {
        // The selection [from_, to_) of the text before the change, in up to
        // three parts: before the change, removed by it, after it.
        QString text(static_cast<qsizetype>(to_ - from_), Qt::Uninitialized);
        auto* out = reinterpret_cast<char16_t*>(text.data());
        const Pos removedEnd = change.pos + change.removed;
        const Pos shift = change.inserted - change.removed;
        if (from_ < std::min(to_, change.pos)) {
            now.CopyTo(from_, std::min(to_, change.pos), out);
            out += std::min(to_, change.pos) - from_;
        }
        const Pos a = std::max(from_, change.pos), b = std::min(to_, removedEnd);
        if (a < b) {
            if (static_cast<Pos>(change.removedText.size()) < removedEnd - change.pos) return;  // not told
            std::copy_n(change.removedText.data() + (a - change.pos), b - a, out);
            out += b - a;
        }
        const Pos c = std::max(from_, removedEnd);
        if (c < to_) now.CopyTo(c + shift, to_ + shift, out);
        text_ = std::move(text);
        eager_ = true;
    } catch (const std::bad_alloc&) {
    }
}

QVariant BoxMime::retrieveData(const QString& mime, QMetaType) const {
    QString text;
    if (!Exact(text)) return {};
    if (mime == QLatin1String("text/plain")) return text;
    if (mime == ExactTextFormat()) {
        return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    }
    return {};
}

QString TextOf(const QMimeData* data) {
    if (const auto* own = dynamic_cast<const BoxMime*>(data)) {
        QString text;
        if (own->Exact(text)) return text;
    }
    if (data->hasFormat(ExactTextFormat())) {
        const QByteArray bytes = data->data(ExactTextFormat());
        if (bytes.size() % 2 == 0 && !bytes.isEmpty()) {
            return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()), bytes.size() / 2);
        }
    }
    return EditBox::NormaliseLineBreaks(data->text());
}

bool HasBoxText(const QMimeData* data) { return data && (data->hasText() || data->hasFormat(ExactTextFormat())); }

}  // namespace tessaly
