#include "ui/box_mime.h"

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
