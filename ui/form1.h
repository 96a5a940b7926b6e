// The program's only window: the edit box, the File and Convert menus, and
// the commands behind them.
#pragma once

#include <QMainWindow>
#include <QString>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <memory>
#include <optional>
#include <utility>

#include "codec/url.h"
#include "documents/recent_files.h"
#include "documents/text_document.h"
#include "ui/common_dialog.h"

class QAction;
class QMenu;

namespace tessaly {

class EditBox;

class Form1 : public QMainWindow, private RecentSlots {
    Q_OBJECT
public:
    // historyPath: where the recent-file list is kept; by default the history
    // file beside the executable.
    explicit Form1(const QString& historyPath = QString(), QWidget* parent = nullptr);
    ~Form1() override;

    // The edit box's height and width in twips for the window's outer height
    // and width, or nothing when the window is too small to follow.
    static std::optional<std::pair<int, int>> ResizeRule(int outerHeight, int outerWidth);

    // The most bytes an encoding makes of one unit of text, and the most
    // units of encoded text those bytes become, with the given options.
    struct EncodeGrowth {
        std::uint64_t bytes;
        std::uint64_t units;
    };
    static EncodeGrowth EncodeGrowthFor(const EncodeOptions& options);

    EditBox* Text1 = nullptr;
    CommonDialog CommonDialog1{this};

    QMenu* mnuFile = nullptr;
    QAction* mnuFileOpen = nullptr;
    QAction* mnuFileDummy00 = nullptr;
    QAction* mnuFileSaveAs = nullptr;
    QAction* mnuFileDummy01 = nullptr;
    std::array<QAction*, RecentSlots::kCount> mnuFileName{};
    QAction* mnuFileDummy02 = nullptr;
    QAction* mnuFileExit = nullptr;
    QMenu* mnuTranslate = nullptr;
    QAction* mnuURLDecode = nullptr;
    QAction* mnuEncode = nullptr;
    QAction* mnuTranslateDummy00 = nullptr;
    QAction* mnuTranCheck = nullptr;
    QAction* mnuTranslateDummy01 = nullptr;
    QMenu* mnuCharset = nullptr;
    QAction* mnuCharsetSjis = nullptr;
    QAction* mnuCharsetUtf8 = nullptr;
    QAction* mnuCharsetEucJp = nullptr;
    QAction* mnuCharsetDummy00 = nullptr;
    QAction* mnuCharsetDetect = nullptr;
    QMenu* mnuEscape = nullptr;
    QAction* mnuEscapePrintable = nullptr;
    QAction* mnuEscapeComponent = nullptr;
    QAction* mnuEscapeForm = nullptr;
    QAction* mnuPlusCheck = nullptr;

    RecentFileList& RecentFiles() { return recentFiles_; }
    QString HistoryPath() const { return historyPath_; }

    // Edit box geometry in twips.
    int Text1Left() const;
    int Text1Top() const;
    int Text1Width() const;
    int Text1Height() const;

    // Loads a file into the edit box / saves the edit box to a file,
    // reporting a failure in a message box.
    void OpenDocument(const QString& name);
    void SaveDocument(const QString& name);

public slots:
    void mnuFileOpen_Click();
    void mnuFileSaveAs_Click();
    void mnuFileName_Click(int Index);
    void mnuFileExit_Click();
    void mnuURLDecode_Click();
    void mnuEncode_Click();
    void mnuTranCheck_Click();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateMenus();
    void Form_Load();
    void Form_Resize();
    void Form_Unload(bool& Cancel);

    void CreateConvertOptions();

    // The Convert menu's choices as they stand when a command runs.
    Charset ChosenCharset() const;
    EncodeOptions ChosenEncodeOptions() const;
    DecodeOptions ChosenDecodeOptions() const;

    void EncodeText();
    void DecodeText();
    // After a decode of text into decoded in one encoding: the lines another
    // encoding reads cleanly, where this one left bytes that are not its
    // characters.
    static MojibakeLines LinesReadElsewhere(std::u16string_view text, std::u16string_view decoded,
                                            const DecodeOptions& options);
    // Whether bytes more can be taken, after dropping the oldest undo steps
    // if that is what it takes.
    bool MakeRoomFor(std::uint64_t bytes);
    // Puts what convert makes of the edit box's text into the box as one
    // undo step; false (after saying so) when memory does not allow it.
    template <typename Convert>
    bool ConvertText(std::uint64_t bytes, Convert&& convert);
    void LoadHistory();
    void SaveHistory();
    void ShowFileError(int error, const QString& name);
    // Before a save: whether to go on when the text holds characters that
    // the code page cannot hold as they are. No puts the caret on the first.
    bool AskTextLoss();
    // After a load: says when the file's bytes will not all be written back.
    void ShowByteLoss(const FileByteLoss& loss);
    // Puts the edit box's caret before the character at index of its Text().
    void PutCaretAt(qsizetype index);
    bool AskOverwrite(const QString& name);
    // The name chosen in the Open or Save As dialog, preset to the newest
    // recent file; empty when the dialog was cancelled.
    QString AskFileName(bool save);

    void SetText1Geometry(int left, int top, int width, int height);

    // The recent-file slots are the File menu's items.
    std::u16string SlotName(int index) const override;
    void SetSlotName(int index, const std::u16string& name) override;
    void SetSlotShown(int index, bool shown) override;

    QString historyPath_;
    RecentFileList recentFiles_{*this};
};

}  // namespace tessaly
