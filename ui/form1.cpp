#include "ui/form1.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <pwd.h>
#include <unistd.h>
#include <vector>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QResizeEvent>
#include <string_view>

#include "codec/fidelity.h"
#include "codec/percent.h"
#include "codec/url.h"
#include "documents/history_file.h"
#include "documents/memory_budget.h"
#include "documents/text_document.h"
#include "editor/memory_cost.h"
#include "ui/edit_box.h"
#include "ui/loss_messages.h"
#include "ui/message_box.h"
#include "ui/twips.h"

namespace tessaly {
namespace {

const QString kAppTitle = QStringLiteral("Tessaly");
const QString kFileDialogFilter =
    QStringLiteral("ATTファイル(*.ATT)|*.ATT|Textファイル(*.txt)|*.txt|すべてのファイル(*.*)|*.*");

// The window's design values, in twips.
constexpr int kClientWidth = 7725;
constexpr int kClientHeight = 4920;
constexpr int kText1Left = 120;
constexpr int kText1Top = 0;
constexpr int kText1Width = 6015;
constexpr int kText1Height = 4695;
constexpr int kHeightMargin = 900;
constexpr int kWidthMargin = 400;
constexpr int kMinimumSize = 100;

std::u16string_view View(const QString& s) {
    return {reinterpret_cast<const char16_t*>(s.utf16()), static_cast<size_t>(s.size())};
}

QString ToQString(const std::u16string& s) {
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

std::string NativePath(const QString& name) { return QFile::encodeName(name).toStdString(); }

// The units of the longest line of a text, LF included: lines end at LF.
std::size_t LongestLine(std::u16string_view text) {
    std::size_t longest = 0;
    for (std::size_t from = 0; from < text.size();) {
        const std::size_t lf = text.find(u'\n', from);
        const std::size_t end = lf == std::u16string_view::npos ? text.size() : lf + 1;
        longest = std::max(longest, end - from);
        from = end;
    }
    return longest;
}

// The wait cursor for as long as a command runs.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

std::string CanonicalFolder(const QString& folder) {
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return NativePath(canonical.isEmpty() ? folder : canonical);
}

// Beside the executable, or in the user's state folder when the executable
// runs from where this build (or its Debian package) installs programs.
QString DefaultHistoryPath() {
    const std::vector<std::string> installFolders{CanonicalFolder(QStringLiteral(TESSALY_INSTALL_BINDIR)),
                                                  CanonicalFolder(QStringLiteral(TESSALY_PACKAGE_BINDIR))};
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
        const passwd* user = ::getpwuid(::getuid());
        home = user ? user->pw_dir : nullptr;
    }
    const std::string path = HistoryPathFor(CanonicalFolder(QCoreApplication::applicationDirPath()), installFolders,
                                            std::getenv("XDG_STATE_HOME"), home);
    return QFile::decodeName(QByteArray::fromStdString(path));
}

}  // namespace

Form1::Form1(const QString& historyPath, QWidget* parent)
    : QMainWindow(parent), historyPath_(historyPath.isEmpty() ? DefaultHistoryPath() : historyPath) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(kAppTitle);

    auto* client = new QWidget(this);
    setCentralWidget(client);
    Text1 = new EditBox(client);
    Text1->setObjectName(QStringLiteral("Text1"));
    connect(Text1, &EditBox::FileDropped, this, &Form1::OpenDocument);
    setAcceptDrops(true);
    CreateMenus();

    const Twips twips(this);
    SetText1Geometry(kText1Left, kText1Top, kText1Width, kText1Height);
    resize(twips.XToPixels(kClientWidth), twips.YToPixels(kClientHeight) + menuBar()->sizeHint().height());
    Text1->setFocus();

    Form_Load();
}

Form1::~Form1() = default;

void Form1::CreateMenus() {
    auto item = [this](QMenu* menu, const char* objectName, const QString& caption) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(objectName));
        return action;
    };
    auto separator = [](QMenu* menu, const char* objectName) {
        QAction* action = menu->addSeparator();
        action->setObjectName(QString::fromLatin1(objectName));
        return action;
    };

    mnuFile = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuFileOpen = item(mnuFile, "mnuFileOpen", QStringLiteral("ファイルを開く(&O)"));
    mnuFileDummy00 = separator(mnuFile, "mnuFileDummy00");
    mnuFileSaveAs = item(mnuFile, "mnuFileSaveAs", QStringLiteral("名前を付けて保存(&A)"));
    mnuFileDummy01 = separator(mnuFile, "mnuFileDummy01");
    for (int i = 0; i < RecentSlots::kCount; ++i) {
        mnuFileName[i] = item(mnuFile, "mnuFileName", QString());
        connect(mnuFileName[i], &QAction::triggered, this, [this, i] { mnuFileName_Click(i); });
    }
    mnuFileDummy02 = separator(mnuFile, "mnuFileDummy02");
    mnuFileExit = item(mnuFile, "mnuFileExit", QStringLiteral("終了(&X)"));

    mnuTranslate = menuBar()->addMenu(QStringLiteral("変換(&T)"));
    mnuTranslate->setObjectName(QStringLiteral("mnuTranslate"));
    mnuURLDecode = item(mnuTranslate, "mnuURLDecode", QStringLiteral("URLデコード(&D)"));
    mnuEncode = item(mnuTranslate, "mnuEncode", QStringLiteral("URLエンコード(&E)"));
    mnuTranslateDummy00 = separator(mnuTranslate, "mnuTranslateDummy00");
    mnuTranCheck = item(mnuTranslate, "mnuTranCheck", QStringLiteral("＆をCRLFとみなす(&C)"));
    mnuTranCheck->setCheckable(true);
    CreateConvertOptions();

    connect(mnuFileOpen, &QAction::triggered, this, &Form1::mnuFileOpen_Click);
    connect(mnuFileSaveAs, &QAction::triggered, this, &Form1::mnuFileSaveAs_Click);
    connect(mnuFileExit, &QAction::triggered, this, &Form1::mnuFileExit_Click);
    connect(mnuURLDecode, &QAction::triggered, this, &Form1::mnuURLDecode_Click);
    connect(mnuEncode, &QAction::triggered, this, &Form1::mnuEncode_Click);
    // Qt flips a checkable item before it reports the click; undo that so the
    // handler alone decides the check mark.
    connect(mnuTranCheck, &QAction::triggered, this, [this](bool checked) {
        mnuTranCheck->setChecked(!checked);
        mnuTranCheck_Click();
    });
}

// The encoding, escape set and "+" choices after the "&" option. Qt keeps
// their check marks (the radio items in groups of their own); the commands
// read them when they run, and nothing keeps them between runs.
void Form1::CreateConvertOptions() {
    auto submenu = [](QMenu* menu, const char* objectName, const QString& caption) {
        QMenu* sub = menu->addMenu(caption);
        sub->setObjectName(QString::fromLatin1(objectName));
        sub->menuAction()->setObjectName(QString::fromLatin1(objectName));
        return sub;
    };
    auto check = [](QMenu* menu, const char* objectName, const QString& caption, QActionGroup* group = nullptr) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(objectName));
        action->setCheckable(true);
        if (group) group->addAction(action);
        return action;
    };

    mnuTranslateDummy01 = mnuTranslate->addSeparator();
    mnuTranslateDummy01->setObjectName(QStringLiteral("mnuTranslateDummy01"));

    mnuCharset = submenu(mnuTranslate, "mnuCharset", QStringLiteral("文字コード(&K)"));
    auto* charsets = new QActionGroup(mnuCharset);
    mnuCharsetSjis = check(mnuCharset, "mnuCharsetSjis", QStringLiteral("シフトJIS(&S)"), charsets);
    mnuCharsetUtf8 = check(mnuCharset, "mnuCharsetUtf8", QStringLiteral("UTF-8(&U)"), charsets);
    mnuCharsetEucJp = check(mnuCharset, "mnuCharsetEucJp", QStringLiteral("EUC-JP(&J)"), charsets);
    mnuCharsetSjis->setChecked(true);
    mnuCharsetDummy00 = mnuCharset->addSeparator();
    mnuCharsetDummy00->setObjectName(QStringLiteral("mnuCharsetDummy00"));
    mnuCharsetDetect = check(mnuCharset, "mnuCharsetDetect", QStringLiteral("デコード時に自動判別(&A)"));

    mnuEscape = submenu(mnuTranslate, "mnuEscape", QStringLiteral("エスケープする文字(&R)"));
    auto* escapes = new QActionGroup(mnuEscape);
    mnuEscapePrintable = check(mnuEscape, "mnuEscapePrintable", QStringLiteral("印字可能なASCII以外(&P)"), escapes);
    mnuEscapeComponent =
        check(mnuEscape, "mnuEscapeComponent", QStringLiteral("URLの部品用: 英数字と -_.!~*'() 以外(&C)"), escapes);
    mnuEscapeForm = check(mnuEscape, "mnuEscapeForm", QStringLiteral("フォーム用: 空白は +(&F)"), escapes);
    mnuEscapePrintable->setChecked(true);

    mnuPlusCheck = check(mnuTranslate, "mnuPlusCheck", QStringLiteral("＋を空白とみなす(&S)"));
}

// --- Geometry ---------------------------------------------------------------

std::optional<std::pair<int, int>> Form1::ResizeRule(int outerHeight, int outerWidth) {
    const int height = outerHeight - kHeightMargin;
    const int width = outerWidth - kWidthMargin;
    if (height > kMinimumSize && width > kMinimumSize) {
        return std::make_pair(height, width);
    }
    return std::nullopt;
}

int Form1::Text1Left() const { return Twips(this).XFromPixels(Text1->x()); }
int Form1::Text1Top() const { return Twips(this).YFromPixels(Text1->y()); }
int Form1::Text1Width() const { return Twips(this).XFromPixels(Text1->width()); }
int Form1::Text1Height() const { return Twips(this).YFromPixels(Text1->height()); }

void Form1::SetText1Geometry(int left, int top, int width, int height) {
    const Twips twips(this);
    Text1->setGeometry(twips.XToPixels(left), twips.YToPixels(top), twips.XToPixels(width),
                       twips.YToPixels(height));
}

void Form1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void Form1::Form_Resize() {
    const Twips twips(this);
    const QRect outer = frameGeometry();
    const auto size = ResizeRule(twips.YFromPixels(outer.height()), twips.XFromPixels(outer.width()));
    if (!size) {
        return;
    }
    // Height first, then width.
    Text1->resize(Text1->width(), twips.YToPixels(size->first));
    Text1->resize(twips.XToPixels(size->second), Text1->height());
}

// --- Start and end ------------------------------------------------------------

void Form1::Form_Load() { LoadHistory(); }

void Form1::closeEvent(QCloseEvent* event) {
    bool cancel = false;
    Form_Unload(cancel);
    if (cancel) {
        event->ignore();
        return;
    }
    event->accept();
}

void Form1::Form_Unload(bool& Cancel) {
    const int answer = MsgBox(this, QStringLiteral("終了しますか。"), vbYesNo + vbCritical + vbDefaultButton2,
                              QStringLiteral("URL Decode"));
    if (answer != vbYes) {
        Cancel = true;
        return;
    }
    SaveHistory();
}

void Form1::LoadHistory() { tessaly::LoadHistory(recentFiles_, NativePath(historyPath_)); }

void Form1::SaveHistory() {
    // Failures stay silent; the program ends either way.
    tessaly::SaveHistory(recentFiles_, NativePath(historyPath_));
    QCoreApplication::quit();
}

void Form1::mnuFileExit_Click() { close(); }

// --- Convert menu -------------------------------------------------------------

void Form1::mnuURLDecode_Click() { DecodeText(); }
void Form1::mnuEncode_Click() { EncodeText(); }
void Form1::mnuTranCheck_Click() {
    mnuTranCheck->setChecked(!mnuTranCheck->isChecked());
}

Charset Form1::ChosenCharset() const {
    if (mnuCharsetUtf8->isChecked()) return Charset::kUtf8;
    if (mnuCharsetEucJp->isChecked()) return Charset::kEucJp;
    return Charset::kShiftJis;
}

EncodeOptions Form1::ChosenEncodeOptions() const {
    EncodeOptions options;
    options.charset = ChosenCharset();
    options.escape = mnuEscapeComponent->isChecked() ? EscapeSet::kComponent
                     : mnuEscapeForm->isChecked()    ? EscapeSet::kForm
                                                     : EscapeSet::kPrintable;
    options.crLfAsAmp = mnuTranCheck->isChecked();
    return options;
}

DecodeOptions Form1::ChosenDecodeOptions() const {
    DecodeOptions options;
    options.charset = ChosenCharset();
    options.detect = mnuCharsetDetect->isChecked();
    options.plusAsSpace = mnuPlusCheck->isChecked();
    options.crLfAsAmp = mnuTranCheck->isChecked();
    return options;
}

Form1::EncodeGrowth Form1::EncodeGrowthFor(const EncodeOptions& options) {
    const bool escapesMarks = options.escape != EscapeSet::kPrintable;
    switch (options.charset) {
    case Charset::kUtf8:
        // Three bytes a unit (a lone surrogate as U+FFFD's), each "%XX".
        return {3, 9};
    case Charset::kEucJp:
        // "&#65535;" for a unit it cannot hold; the component and form sets
        // escape its "&", "#" and ";".
        return {8, escapesMarks ? 14u : 8u};
    case Charset::kShiftJis:
        break;
    }
    return {2, 6};
}

template <typename Convert>
bool Form1::ConvertText(std::uint64_t bytes, Convert&& convert) {
    // A result the window cannot hold leaves the text as it was and says so,
    // rather than letting the system end the program.
    bool fits = MakeRoomFor(bytes);
    if (fits) {
        WaitCursor wait;
        try {
            // The result goes into the box as it is; the old text becomes the
            // undo step that brings it back.
            std::u16string converted = convert(Text1->TextView());
            Text1->SetText(std::move(converted));
        } catch (const std::bad_alloc&) {
            fits = false;
        }
    }
    if (!fits) {
        MsgBox(this, ToQString(DescribeFileError(ENOMEM)), vbOKOnly, kAppTitle);
    }
    return fits;
}

void Form1::EncodeText() {
    const EncodeOptions options = ChosenEncodeOptions();
    const std::uint64_t units = Text1->TextView().size();
    if (options.charset == Charset::kShiftJis && options.escape == EscapeSet::kPrintable) {
        // The code page's own route, as it always was: "?" for what it
        // cannot hold, and no word about it.
        ConvertText(EncodeMemoryFor(units),
                    [&](std::u16string_view text) { return Encode(text, options.crLfAsAmp); });
        return;
    }
    const EncodeGrowth growth = EncodeGrowthFor(options);
    QString note;
    const bool done = ConvertText(EncodeMemoryFor(units, growth.bytes, growth.units), [&](std::u16string_view text) {
        EncodeReport report;
        std::u16string encoded = EncodeUrl(text, options, &report);
        if (report.lost != 0 && options.charset != Charset::kShiftJis) {
            note = EncodeLossNote(text, options.charset, report.lost, report.firstLost);
        }
        return encoded;
    });
    if (done && !note.isEmpty()) {
        MsgBox(this, note, vbOKOnly, kAppTitle);
    }
}

void Form1::DecodeText() {
    // The decoded text's lines: at most one more than the CRs, the "&"s and
    // the "%0D"s of the text.
    const std::u16string_view text = Text1->TextView();
    std::uint64_t lines = 1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'\r' || c == u'&' ||
            (c == u'%' && i + 2 < text.size() && text[i + 1] == u'0' && (text[i + 2] == u'D' || text[i + 2] == u'd'))) {
            ++lines;
        }
    }
    const DecodeOptions options = ChosenDecodeOptions();
    const bool codePageRoute = options.charset == Charset::kShiftJis && !options.detect && !options.plusAsSpace;
    std::uint64_t bytes = DecodeMemoryFor(text.size(), lines);
    if (options.detect) {
        // Detection reads a line, or the first mebiunit of a longer one, in
        // each of the three encodings.
        bytes += kCharsetCount * LineDecodeMemoryFor(std::min<std::size_t>(LongestLine(text), 1 << 20));
    }
    MojibakeLines mojibake;
    const bool done = ConvertText(bytes, [&](std::u16string_view input) {
        std::u16string decoded = codePageRoute ? Decode(input, options.crLfAsAmp) : DecodeUrl(input, options);
        if (!options.detect) {
            mojibake = LinesReadElsewhere(input, decoded, options);
        }
        return decoded;
    });
    if (done && mojibake.lines != 0) {
        MsgBox(this, MojibakeNote(mojibake.lines, options.charset, mojibake.readBy), vbOKOnly, kAppTitle);
    }
}

MojibakeLines Form1::LinesReadElsewhere(std::u16string_view text, std::u16string_view decoded,
                                        const DecodeOptions& options) {
    // What a fixed encoding leaves of bytes that are not its characters; a
    // result without it is clean and needs no second look.
    const char16_t notACharacter = options.charset == Charset::kShiftJis ? u'\u30FB' : u'\uFFFD';
    if (decoded.find(notACharacter) == std::u16string_view::npos) {
        return {};
    }
    // The look decodes line by line again: without the memory for the
    // longest line it is given up, and the decode stands without a note.
    if (!MemoryAvailableFor(LineDecodeMemoryFor(LongestLine(text)))) {
        return {};
    }
    try {
        return FindMojibakeLines(text, options);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

bool Form1::MakeRoomFor(std::uint64_t bytes) {
    if (MemoryAvailableFor(bytes)) {
        return true;
    }
    // The undo history gives up its oldest steps first; the text stays.
    const std::optional<std::uint64_t> available = AvailableMemory();
    Text1->MutableState().ReleaseHistory(bytes - available.value_or(0));
    return MemoryAvailableFor(bytes);
}

// --- File menu ----------------------------------------------------------------

void Form1::mnuFileOpen_Click() {
    const QString name = AskFileName(false);
    if (name.isEmpty()) {
        return;
    }
    OpenDocument(name);
}

void Form1::mnuFileSaveAs_Click() {
    const QString name = AskFileName(true);
    if (name.isEmpty()) {
        return;
    }
    if (NameExists(NativePath(name)) && !AskOverwrite(name)) {
        return;
    }
    SaveDocument(name);
}

QString Form1::AskFileName(bool save) {
    CommonDialog1.CancelError = true;
    CommonDialog1.FileName = ToQString(recentFiles_.RecentFileName(0));
    CommonDialog1.Filter = kFileDialogFilter;
    if (!(save ? CommonDialog1.ShowSave() : CommonDialog1.ShowOpen())) {
        return QString();  // cancelled
    }
    return CommonDialog1.FileName;
}

bool Form1::AskOverwrite(const QString&) {
    return MsgBox(this, QStringLiteral("同一ファイル名があります。上書きしますか？"),
                  vbYesNo + vbExclamation + vbDefaultButton2, QStringLiteral("File Save")) == vbYes;
}

void Form1::mnuFileName_Click(int Index) { OpenDocument(ToQString(recentFiles_.RecentFileName(Index))); }

void Form1::OpenDocument(const QString& name) {
    LoadedText loaded;
    {
        WaitCursor wait;
        loaded = ReadTextDocument(NativePath(name));
        if (loaded.error == 0 &&
            !MakeRoomFor(EditorMemoryFor(loaded.text.size(), loaded.lines))) {
            loaded.error = ENOMEM;
        }
        if (loaded.error == 0) {
            try {
                Text1->SetText(std::move(loaded.text));
            } catch (const std::bad_alloc&) {
                loaded.error = ENOMEM;
            }
        }
    }
    if (loaded.error != 0) {
        ShowFileError(loaded.error, name);
        return;
    }
    recentFiles_.AddRecentFile(std::u16string(View(name)));
    ShowByteLoss(loaded.loss);
}

void Form1::SaveDocument(const QString& name) {
    if (!AskTextLoss()) {
        return;
    }
    int error = 0;
    {
        WaitCursor wait;
        error = WriteTextDocument(NativePath(name), Text1->TextView());
    }
    if (error != 0) {
        ShowFileError(error, name);
        return;
    }
    recentFiles_.AddRecentFile(std::u16string(View(name)));
}

void Form1::ShowFileError(int error, const QString& name) {
    MsgBox(this, ToQString(DescribeFileError(error)) + QStringLiteral(" File Name = ") + name, vbOKOnly, kAppTitle);
}

bool Form1::AskTextLoss() {
    const std::u16string_view text = Text1->TextView();
    const TextLoss loss = FindTextLoss(text);
    if (loss.count == 0) {
        return true;
    }
    if (MsgBox(this, TextLossQuestion(text, loss), vbYesNo + vbExclamation + vbDefaultButton2,
               QStringLiteral("File Save")) == vbYes) {
        return true;
    }
    PutCaretAt(static_cast<qsizetype>(loss.first));
    return false;
}

void Form1::ShowByteLoss(const FileByteLoss& loss) {
    if (loss.count != 0) {
        MsgBox(this, ByteLossNote(loss), vbOKOnly, kAppTitle);
    }
}

void Form1::PutCaretAt(qsizetype index) {
    Text1->SetSelection(index, index);
    Text1->setFocus();
}

// --- Dropped files -------------------------------------------------------------

namespace {

QString FirstLocalFile(const QMimeData* data) {
    if (data && data->hasUrls()) {
        for (const QUrl& url : data->urls()) {
            if (url.isLocalFile()) return url.toLocalFile();
        }
    }
    return QString();
}

}  // namespace

void Form1::dragEnterEvent(QDragEnterEvent* event) {
    if (!FirstLocalFile(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void Form1::dropEvent(QDropEvent* event) {
    const QString name = FirstLocalFile(event->mimeData());
    if (name.isEmpty()) {
        return;
    }
    event->acceptProposedAction();
    OpenDocument(name);
}

// --- Recent-file slots ----------------------------------------------------------

std::u16string Form1::SlotName(int index) const {
    return std::u16string(View(mnuFileName[index]->data().toString()));
}

void Form1::SetSlotName(int index, const std::u16string& name) {
    const QString caption = ToQString(name);
    mnuFileName[index]->setData(caption);
    // A '&' in a file name is shown as itself, not as an access key.
    mnuFileName[index]->setText(QString(caption).replace(u'&', QStringLiteral("&&")));
}

void Form1::SetSlotShown(int index, bool shown) { mnuFileName[index]->setVisible(shown); }

}  // namespace tessaly
