#include <gtest/gtest.h>

#include <QApplication>

#include "modal.h"
#include "ui/app.h"

namespace {

// An answer a test prepared for a window that never came must not answer
// the next test's window.
class AnswerReset : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo&) override { tessaly::test::StopAnswering(); }
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    tessaly::InstallJapanese(app);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new AnswerReset);
    return RUN_ALL_TESTS();
}
