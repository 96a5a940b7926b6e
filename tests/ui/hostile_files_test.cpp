// The file commands against what the file system can throw at them: things
// that are not files, files whose size lies, binary junk, a disk that fills
// up part-way. Each ends with a sound result or the file error report, with
// the edit box and the recent list intact.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "documents/text_document.h"
#include "modal.h"
#include "ui/edit_box.h"
#include "ui/form1.h"
#include "ui/loss_messages.h"

namespace tessaly {
namespace {

using test::WhenModals;

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// The text of the one message box the work brings up (answered with OK), or
// an empty string when none came up.
QString ReportOf(const std::function<void()>& work) {
    QString text;
    auto given = WhenModals({[&text](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        text = box ? box->text() : QStringLiteral("<not a message box>");
        modal->close();
    }});
    work();
    test::StopAnswering();
    return *given ? text : QString();
}

// Lowers the file-size limit for the scope (SIGXFSZ ignored, so a write past
// it fails with EFBIG instead of killing the process).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = old_;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = SIG_DFL;
};

class HostileFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        form_ = std::make_unique<Form1>(Path("sys.!!!"));
        form_->show();
        // A known state to keep: one recent file and some text.
        WriteAll(Path("known.txt"), "known");
        form_->OpenDocument(Path("known.txt"));
        form_->Text1->SetText(QStringLiteral("keep\rthis\n"));
    }
    QString Path(const char* name) const { return dir_.filePath(QString::fromUtf8(name)); }
    void ExpectStateKept() const {
        EXPECT_EQ(form_->Text1->Text(), QStringLiteral("keep\rthis\n"));
        EXPECT_EQ(form_->mnuFileName[0]->data().toString(), Path("known.txt"));
        EXPECT_FALSE(form_->mnuFileName[1]->isVisible());
    }
    QTemporaryDir dir_;
    std::unique_ptr<Form1> form_;
};

TEST_F(HostileFiles, WhatIsNotARegularFileIsRefusedWithTheReport) {
    const QString fifo = Path("fifo");
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    // A FIFO with a writer that never writes nor closes: reading it would
    // block the window for ever.
    const int writer = open(fifo.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    const QString notAFile = QStringLiteral("通常のファイルではありません。 File Name = ");
    const struct {
        QString path;
        QString report;
    } cases[] = {
        {dir_.path(), QStringLiteral("フォルダーはファイルとして開けません。 File Name = ") + dir_.path()},
        {fifo, notAFile + fifo},
        {QStringLiteral("/dev/zero"), notAFile + QStringLiteral("/dev/zero")},
        {QStringLiteral("/dev/urandom"), notAFile + QStringLiteral("/dev/urandom")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        EXPECT_EQ(ReportOf([&] { form_->OpenDocument(c.path); }), c.report);
        ExpectStateKept();
    }
    close(writer);
}

TEST_F(HostileFiles, BinaryJunkLoadsExactlyAndSavesBack) {
    // NULs, every single byte, stray lead bytes (before a CR, before LF, at
    // the end), a lone LF inside a line.
    QByteArray junk(300, '\0');
    for (int i = 0; i < 256; ++i) junk += static_cast<char>(i);
    junk += QByteArray("\x81\r\x82\n\x9F\x00\xE0", 7);
    junk += QByteArray("\x81\xFC\xFC\xFC\x81", 5);
    const QString file = Path("junk.bin");
    WriteAll(file, junk);
    // Loaded all the same; the stray lead bytes (and the bytes 81 and FC
    // among the single bytes) are named as bytes that saving changes.
    const std::string_view bytes(junk.constData(), static_cast<size_t>(junk.size()));
    const FileByteLoss loss = FindFileByteLoss(bytes);
    EXPECT_GE(loss.count, 5u);
    EXPECT_EQ(ReportOf([&] { form_->OpenDocument(file); }), ByteLossNote(loss));
    const std::u16string expected = FileBytesToEditorText(std::string_view(junk.constData(), junk.size()));
    EXPECT_EQ(form_->Text1->Text(), QString::fromStdU16String(expected));
    EXPECT_EQ(form_->Text1->Text().count(QChar(u'\0')), 300 + 1 + 1);
    EXPECT_EQ(form_->mnuFileName[0]->data().toString(), file);

    const QString saved = Path("saved.bin");
    form_->SaveDocument(saved);
    const std::string savedBytes = EditorTextToFileBytes(expected);
    EXPECT_EQ(ReadAll(saved), QByteArray(savedBytes.data(), static_cast<qsizetype>(savedBytes.size())));
}

TEST_F(HostileFiles, AFileWhoseSizeLiesIsReadToItsEnd) {
    // Files under /proc say they are empty and are not.
    EXPECT_EQ(ReportOf([&] { form_->OpenDocument(QStringLiteral("/proc/self/status")); }), QString());
    EXPECT_TRUE(form_->Text1->Text().startsWith(QStringLiteral("Name:")));
    EXPECT_TRUE(form_->Text1->Text().contains(QStringLiteral("\nVmRSS:")));
}

TEST_F(HostileFiles, SaveThatRunsOutOfRoomLeavesTheTargetAndReports) {
    const QString target = Path("target.txt");
    WriteAll(target, "old content");
    form_->Text1->SetText(QString(100000, QChar(u'あ')));
    QString report;
    {
        FileSizeLimit limit(4096);
        report = ReportOf([&] { form_->SaveDocument(target); });
    }
    EXPECT_EQ(report, QStringLiteral("ファイルが大きすぎます。 File Name = ") + target);
    EXPECT_EQ(ReadAll(target), QByteArray("old content"));
    EXPECT_EQ(form_->mnuFileName[0]->data().toString(), Path("known.txt"));
    EXPECT_FALSE(form_->mnuFileName[1]->isVisible());
    // Nothing is left behind beside the target.
    QStringList left = QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden);
    left.sort();
    EXPECT_EQ(left, (QStringList{QStringLiteral("known.txt"), QStringLiteral("target.txt")}));
}

// Lowers the address-space limit for the scope to what the process uses now
// plus room.
class AddressSpaceLimit {
public:
    explicit AddressSpaceLimit(rlim_t room) {
        getrlimit(RLIMIT_AS, &old_);
        QFile status(QStringLiteral("/proc/self/status"));
        rlim_t used = 0;
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : status.readAll().split('\n')) {
                if (line.startsWith("VmSize:")) used = line.mid(7).trimmed().split(' ').first().toULongLong() * 1024;
            }
        }
        rlimit lowered = old_;
        lowered.rlim_cur = used + room;
        ok_ = used > 0 && setrlimit(RLIMIT_AS, &lowered) == 0;
    }
    ~AddressSpaceLimit() { setrlimit(RLIMIT_AS, &old_); }
    bool ok() const { return ok_; }

private:
    rlimit old_{};
    bool ok_ = false;
};

TEST_F(HostileFiles, WhatCannotBeHeldIsReportedAndTheTextKept) {
    // Sparse files of zeros: one line each, taking no room on disk.
    const QString huge = Path("huge.bin");      // too large to read at all
    const QString long1 = Path("oneline.bin");  // one line that an editor laying out all of it could not hold
    WriteAll(huge, "");
    WriteAll(long1, "");
    ASSERT_EQ(truncate(huge.toLocal8Bit().constData(), off_t{400} << 20), 0);
    ASSERT_EQ(truncate(long1.toLocal8Bit().constData(), off_t{12} << 20), 0);
    const QString noMemory = QStringLiteral("メモリが不足しています。");
    const qsizetype longSize = (12 << 20) + 2;

    form_->Text1->SetText(QString(500'000, QChar(u'あ')));
    const QString japanese = form_->Text1->Text();
    QString reports[3];
    {
        AddressSpaceLimit limit(256ull << 20);
        ASSERT_TRUE(limit.ok());
        reports[0] = ReportOf([&] { form_->OpenDocument(huge); });
        EXPECT_EQ(form_->Text1->Text(), japanese);
        // Rows are laid out only where they are seen: the long line opens.
        reports[1] = ReportOf([&] { form_->OpenDocument(long1); });
        EXPECT_EQ(form_->Text1->Text().size(), longSize);
        form_->Text1->Undo();
        EXPECT_EQ(form_->Text1->Text(), japanese);
        form_->Text1->Redo();
        // Its encoded form (six units for each) cannot be held.
        reports[2] = ReportOf([&] { form_->mnuEncode->trigger(); });
    }
    EXPECT_EQ(reports[0], noMemory + QStringLiteral(" File Name = ") + huge);
    EXPECT_EQ(reports[1], QString());
    EXPECT_EQ(reports[2], noMemory);
    EXPECT_EQ(form_->Text1->Text().size(), longSize);
    EXPECT_EQ(form_->Text1->Text().count(QChar(u'\0')), 12 << 20);
    EXPECT_EQ(form_->mnuFileName[0]->data().toString(), long1);
    EXPECT_EQ(form_->mnuFileName[1]->data().toString(), Path("known.txt"));

    // With the memory back, the same command works, and can be undone.
    form_->mnuEncode->trigger();
    EXPECT_TRUE(form_->Text1->Text().startsWith(QStringLiteral("%00%00")));
    EXPECT_GT(form_->Text1->Text().size(), 3 * (12 << 20));
    form_->Text1->Undo();
    EXPECT_EQ(form_->Text1->Text().size(), longSize);
}

TEST(HostileHistory, FolderFifoOrHugeFileStartsSilently) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("folder"));
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    const int writer = open(fifo.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    // 1 GiB that takes no room: a sparse file of zeros after one good line.
    const QString huge = dir.filePath(QStringLiteral("huge"));
    WriteAll(huge, "\"/tmp/first\"\r\n");
    ASSERT_EQ(truncate(huge.toLocal8Bit().constData(), off_t{1} << 30), 0);

    for (const QString& history : {folder, fifo}) {
        SCOPED_TRACE(history.toStdString());
        const QString seen = ReportOf([&] {
            Form1 form(history);
            for (QAction* item : form.mnuFileName) EXPECT_FALSE(item->isVisible());
        });
        EXPECT_EQ(seen, QString());
    }
    // The first line is read; the zeros after it fail as an item and end it.
    Form1 form(huge);
    EXPECT_EQ(form.mnuFileName[0]->data().toString(), QStringLiteral("/tmp/first"));
    EXPECT_TRUE(form.mnuFileName[0]->isVisible());
    EXPECT_FALSE(form.mnuFileName[1]->isVisible());
    close(writer);
}

TEST(HostileHistory, AFailedWriteAtExitIsSilentAndKeepsTheOldFile) {
    QTemporaryDir dir;
    const QString history = dir.filePath(QStringLiteral("sys.!!!"));
    const QByteArray old("\"/tmp/old\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n");
    WriteAll(history, old);
    Form1 form(history);
    form.show();
    const QString file = dir.filePath(QStringLiteral("new.txt"));
    WriteAll(file, "x");
    form.OpenDocument(file);

    int modals = 0;
    {
        FileSizeLimit limit(8);  // the new history is longer than this
        auto given = WhenModals({[](QWidget* modal) { test::Press(modal, QMessageBox::Yes); },
                                 [](QWidget* modal) { modal->close(); }});
        form.mnuFileExit->trigger();
        modals = *given;
    }
    EXPECT_EQ(modals, 1);  // the exit question only
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(ReadAll(history), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

}  // namespace
}  // namespace tessaly
