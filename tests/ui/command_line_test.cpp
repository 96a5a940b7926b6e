#include <gtest/gtest.h>

#include <QDir>

#include "ui/app.h"

namespace tessaly {
namespace {

using Action = CommandLine::Action;

TEST(CommandLine, OneFileOptionsAndUsageErrors) {
    const QString here = QDir::currentPath();
    struct Case {
        QStringList arguments;
        Action action;
        QString file;
    };
    const Case cases[] = {
        {{}, Action::kRun, {}},
        {{"/tmp/a.txt"}, Action::kRun, "/tmp/a.txt"},
        {{"a.txt"}, Action::kRun, here + "/a.txt"},
        {{"./sub/../a.txt"}, Action::kRun, here + "/a.txt"},
        {{"-"}, Action::kRun, here + "/-"},
        {{"--", "-x.txt"}, Action::kRun, here + "/-x.txt"},
        {{"--", "--"}, Action::kRun, here + "/--"},
        {{"--help"}, Action::kHelp, {}},
        {{"--version"}, Action::kVersion, {}},
        {{"-x"}, Action::kUsage, {}},
        {{"--bogus", "a.txt"}, Action::kUsage, {}},
        {{"a.txt", "-x"}, Action::kUsage, {}},
        {{"a.txt", "b.txt"}, Action::kUsage, {}},
        {{"--", "a.txt", "b.txt"}, Action::kUsage, {}},
        {{"--", "--help", "a.txt"}, Action::kUsage, {}},
        {{""}, Action::kUsage, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        const CommandLine command = ParseCommandLine(c.arguments);
        EXPECT_EQ(command.action, c.action);
        EXPECT_EQ(command.file, c.file);
        EXPECT_EQ(command.problem.isEmpty(), c.action != Action::kUsage);
    }
}

}  // namespace
}  // namespace tessaly
