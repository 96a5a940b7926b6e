// Times the window the way a person feels it: from a command until the edit
// box has been painted. Runs offscreen unless QT_QPA_PLATFORM says otherwise.
//
//   build/bench/ui/tessaly_ui_bench            # the whole table
//   build/bench/ui/tessaly_ui_bench --memory FILE   # peak memory with FILE open
//   QT_QPA_PLATFORM=xcb build/bench/ui/tessaly_ui_bench   # under X / Xvfb
#include <QApplication>
#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <string>

#include "codec/codepage.h"
#include "ui/app.h"
#include "ui/edit_box.h"
#include "ui/form1.h"

namespace {

using tessaly::Form1;

QString OneLine(qsizetype length) {
    QString s;
    s.reserve(length);
    const QString unit = QStringLiteral("%82%A0%83e%83X%83g&key=value+");
    while (s.size() < length) {
        s += unit;
    }
    s.truncate(length);
    return s;
}

// Multi-line Japanese text: kana, kanji and some ASCII, lines of 20-60
// characters ending in CR LF.
QString JapaneseText(qsizetype length, unsigned seed = 1, bool withAscii = true) {
    static const QString pool = QStringLiteral(
        "あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゆよらりるれろわをん"
        "アイウエオカキクケコサシスセソタチツテト漢字変換文字列符号化復号東京大阪日本語試験"
        "abcdefghijklmnopqrstuvwxyz0123456789 .,-_=&?/");
    std::mt19937 rng(seed);
    // The pool ends with its ASCII characters.
    const qsizetype kanaAndKanji = pool.indexOf(u'a');
    std::uniform_int_distribution<qsizetype> pick(0, (withAscii ? pool.size() : kanaAndKanji) - 1);
    std::uniform_int_distribution<int> lineLength(20, 60);
    QString s;
    s.reserve(length + 64);
    while (s.size() < length) {
        const int n = lineLength(rng);
        for (int i = 0; i < n; ++i) {
            s += pool.at(pick(rng));
        }
        s += QStringLiteral("\r\n");
    }
    s.truncate(length);
    return s;
}

void Paint(Form1& form) {
    QApplication::processEvents();
    form.Text1->viewport()->repaint();
    form.Text1->verticalScrollBar()->repaint();
    QApplication::processEvents();
}

double Time(const std::function<void()>& work) {
    QElapsedTimer timer;
    timer.start();
    work();
    return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

long PeakKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

void Row(const char* what, double seconds, const char* goal) {
    std::printf("| %-58s | %8.3f s | %-10s |\n", what, seconds, goal);
    std::fflush(stdout);
}

}  // namespace

// Peak memory of the whole program: an empty window, then with the file open.
int Memory(Form1& form, const QString& path) {
    const long emptyKiB = PeakKiB();
    form.OpenDocument(path);
    Paint(form);
    const long openKiB = PeakKiB();
    const double fileMiB = static_cast<double>(QFileInfo(path).size()) / (1 << 20);
    std::printf("%.1f MiB empty, %.1f MiB with the %.1f MiB file open: %.1f x the file above the empty footprint\n",
                emptyKiB / 1024.0, openKiB / 1024.0, fileMiB, (openKiB - emptyKiB) / 1024.0 / fileMiB);
    return 0;
}

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    tessaly::InstallJapanese(app);
    QTemporaryDir dir;
    Form1 form(dir.filePath(QStringLiteral("sys.!!!")));
    form.show();
    Paint(form);
    const QStringList args = QApplication::arguments();
    if (args.size() == 3 && args[1] == QStringLiteral("--memory")) {
        return Memory(form, args[2]);
    }

    std::printf("| %-58s | %10s | %-10s |\n|%s|%s|%s|\n", "what", "time", "goal",
                std::string(60, '-').c_str(), std::string(12, '-').c_str(), std::string(12, '-').c_str());

    const QString line1m = OneLine(1'000'000);
    const QString line4m = OneLine(4'000'000);
    const double t1 = Time([&] { form.Text1->SetText(line1m); Paint(form); });
    Row("show one line of 1,000,000 characters", t1, "");
    const double t4 = Time([&] { form.Text1->SetText(line4m); Paint(form); });
    Row("show one line of 4,000,000 characters", t4, "< 2 s");
    std::printf("| %-58s | %8.2fx   | %-10s |\n", "  ratio 4,000,000 / 1,000,000", t4 / t1, "< 5x");

    form.Text1->SetText(JapaneseText(500'000, 1, false));
    Paint(form);
    const double tenc = Time([&] { form.mnuEncode->trigger(); Paint(form); });
    Row(qPrintable(QStringLiteral("URL Encode 500,000 Japanese characters (%1 out)")
                       .arg(form.Text1->Text().size())),
        tenc, "< 2 s");
    const QSize size = form.size();
    const double tres = Time([&] { form.resize(size.width() + 37, size.height() + 23); Paint(form); });
    Row("resize the window holding that result", tres, "< 0.5 s");
    const double tdec = Time([&] { form.mnuURLDecode->trigger(); Paint(form); });
    Row("URL Decode it back", tdec, "");

    const QString multi = JapaneseText(4'000'000, 2);
    const double tmulti = Time([&] { form.Text1->SetText(multi); Paint(form); });
    Row("show 4,000,000 characters of multi-line Japanese text", tmulti, "< 1 s");

    // A 10 MiB Shift-JIS file.
    form.Text1->SetText(QString());
    Paint(form);
    const QString path = dir.filePath(QStringLiteral("big.txt"));
    {
        QString text = JapaneseText(6'000'000, 3);
        std::string bytes = tessaly::CodePageBridge::ToBytes(
            std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), text.size()));
        bytes.resize(10u << 20, 'x');
        bytes += "\r\n";
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes.data(), bytes.size()) != qint64(bytes.size())) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    const double topen = Time([&] { form.OpenDocument(path); Paint(form); });
    Row("Open a 10 MiB Shift-JIS file until shown", topen, "< 1.5 s");
    const QString saved = dir.filePath(QStringLiteral("saved.txt"));
    const double tsave = Time([&] { form.SaveDocument(saved); });
    Row("Save As of it", tsave, "< 1.5 s");
    std::fflush(stdout);
    // Peak memory needs a fresh process: this one has held far larger texts.
    QProcess memory;
    memory.setProcessChannelMode(QProcess::ForwardedChannels);
    memory.start(QApplication::applicationFilePath(), {QStringLiteral("--memory"), path});
    memory.waitForFinished(-1);
    return 0;
}
