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
#include <QKeyEvent>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <vector>
#include <string>

#include "codec/codepage.h"
#include "editor/editor_state.h"
#include "editor/row_index.h"
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

std::u16string U16(const QString& s) { return s.toStdU16String(); }

// Writes a text as a Shift-JIS file.
bool WriteShiftJis(const QString& path, const QString& text) {
    const std::string bytes = tessaly::CodePageBridge::ToBytes(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), text.size()));
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes.data(), bytes.size()) == qint64(bytes.size());
}

void Key(Form1& form, int key, Qt::KeyboardModifiers mods, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, mods, text);
    QApplication::sendEvent(form.Text1, &press);
    QKeyEvent release(QEvent::KeyRelease, key, mods, text);
    QApplication::sendEvent(form.Text1, &release);
}

// The median time of 20 keys typed at pos (the caret already there), each
// until painted.
double MedianKey(Form1& form, tessaly::Pos pos) {
    form.Text1->SetSelection(pos, pos);
    Paint(form);
    std::vector<double> times;
    for (int i = 0; i < 20; ++i) {
        times.push_back(Time([&] { Key(form, Qt::Key_A, Qt::NoModifier, QStringLiteral("a")); Paint(form); }));
    }
    std::sort(times.begin(), times.end());
    return (times[9] + times[10]) / 2;
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

    // One line of 100,000,000 characters, and one of a tenth of it.
    {
        std::u16string line = U16(OneLine(10'000'000));
        const double t10 = Time([&] { form.Text1->SetText(std::move(line)); Paint(form); });
        Row("show one line of 10,000,000 characters", t10, "");
        line = U16(OneLine(100'000'000));
        const double t100 = Time([&] { form.Text1->SetText(std::move(line)); Paint(form); });
        Row("show one line of 100,000,000 characters", t100, "< 1 s");
        std::printf("| %-58s | %8.2fx   | %-10s |\n", "  ratio 100,000,000 / 10,000,000", t100 / t10, "<= 12x");
        const tessaly::Pos n = form.Text1->State().Length();
        Row("  a key typed at its end (median of 20)", MedianKey(form, n), "< 0.016 s");
        Row("  a key typed in its middle (median of 20)", MedianKey(form, n / 2), "< 0.016 s");
        Row("  a key typed at its start (median of 20)", MedianKey(form, 0), "< 0.016 s");
        const double tend = Time([&] { Key(form, Qt::Key_End, Qt::ControlModifier, QString()); Paint(form); });
        Row("  Ctrl+End after a key at its start", tend, "< 0.25 s");
        form.Text1->SetText(std::u16string());
        form.Text1->MutableState().History().Clear();
        Paint(form);
    }

    // Enter in a text of 3,030,000 short lines: the model with its row index
    // alone, then through the window until painted.
    {
        std::u16string lines;
        lines.reserve(3'030'000 * 8);
        for (int i = 0; i < 3'030'000; ++i) lines += u"line\r\n";
        {
            tessaly::EditorState state;
            tessaly::RowIndex rows(state.Buffer());
            rows.Reset(400, tessaly::CharMetrics{[](char32_t) { return 8.0; }, [](char32_t) { return false; }, 64});
            state.onTextChanged = [&](const tessaly::TextChange& c) { rows.OnTextChanged(c); };
            state.SetText(std::u16string(lines));
            const tessaly::Pos middle = state.Buffer().LineStart(1'515'000);
            state.SetSelection(middle, middle);
            std::vector<double> times;
            for (int i = 0; i < 21; ++i) {
                times.push_back(Time([&] {
                    state.ReplaceSelection(u"\r\n", tessaly::EditKind::Typing);
                    rows.RowOf(state.Caret());
                }));
            }
            std::sort(times.begin(), times.end());
            std::printf("| %-58s | %8.5f s | %-10s |\n", "Enter in 3,030,000 lines, model and row index (median)",
                        times[10], "< 0.001 s");
        }
        form.Text1->SetText(std::move(lines));
        Paint(form);
        const tessaly::Pos middle = form.Text1->State().Buffer().LineStart(1'515'000);
        form.Text1->SetSelection(middle, middle);
        Paint(form);
        std::vector<double> times;
        for (int i = 0; i < 21; ++i) {
            times.push_back(Time([&] { Key(form, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r")); Paint(form); }));
        }
        std::sort(times.begin(), times.end());
        Row("  Enter in them through the window, until painted (median)", times[10], "< 0.016 s");
        form.Text1->SetText(std::u16string());
        form.Text1->MutableState().History().Clear();
        Paint(form);
    }

    // A 3,000,000-character line in a window being resized.
    {
        form.Text1->SetText(U16(OneLine(3'000'000)));
        Paint(form);
        const QSize size = form.size();
        const double tres = Time([&] { form.resize(size.width() + 41, size.height() + 17); Paint(form); });
        Row("resize the window holding a 3,000,000-character line", tres, "< 0.05 s");
        form.resize(size);
        form.Text1->SetText(std::u16string());
        form.Text1->MutableState().History().Clear();
        Paint(form);
    }

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

    // A 100 MiB multi-line Shift-JIS file, and URL Encode of a 64 MiB one's text.
    form.Text1->SetText(std::u16string());
    form.Text1->MutableState().History().Clear();
    Paint(form);
    const QString path100 = dir.filePath(QStringLiteral("big100.txt"));
    const QString path64 = dir.filePath(QStringLiteral("big64.txt"));
    if (!WriteShiftJis(path100, JapaneseText(64'500'000, 5)) || !WriteShiftJis(path64, JapaneseText(41'500'000, 6))) {
        std::fprintf(stderr, "cannot write the large files\n");
        return 1;
    }
    const double topen100 = Time([&] { form.OpenDocument(path100); Paint(form); });
    Row(qPrintable(QStringLiteral("Open a %1 MiB multi-line Shift-JIS file until shown")
                       .arg(QFileInfo(path100).size() / double(1 << 20), 0, 'f', 1)),
        topen100, "< 1 s");
    form.OpenDocument(path64);
    form.Text1->MutableState().History().Clear();
    Paint(form);
    const std::size_t before64 = form.Text1->TextView().size();
    const double tenc64 = Time([&] { form.mnuEncode->trigger(); Paint(form); });
    Row(qPrintable(QStringLiteral("URL Encode the text of a %1 MiB Shift-JIS file (%2 M out)")
                       .arg(QFileInfo(path64).size() / double(1 << 20), 0, 'f', 1)
                       .arg(form.Text1->TextView().size() / 1e6, 0, 'f', 1)),
        tenc64, "< 2 s");
    const double tundo64 = Time([&] { Key(form, Qt::Key_Z, Qt::ControlModifier, QString()); Paint(form); });
    Row("  Ctrl+Z back to the text", tundo64, "< 1 s");
    if (form.Text1->TextView().size() != before64) {
        std::fprintf(stderr, "Ctrl+Z did not bring the text back\n");
    }
    form.Text1->SetText(std::u16string());
    form.Text1->MutableState().History().Clear();
    Paint(form);
    std::fflush(stdout);
    // Peak memory needs a fresh process: this one has held far larger texts.
    for (const QString& file : {path, path100}) {
        QProcess memory;
        memory.setProcessChannelMode(QProcess::ForwardedChannels);
        memory.start(QApplication::applicationFilePath(), {QStringLiteral("--memory"), file});
        memory.waitForFinished(-1);
    }
    return 0;
}
