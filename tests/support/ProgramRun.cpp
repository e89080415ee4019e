#include "support/ProgramRun.h"

#include <gtest/gtest.h>

namespace testing_support {

ProgramRun::ProgramRun(const QString& Program, const QStringList& Arguments, const RunOptions& Options)
    : FName((QStringList{Program} + Arguments).join(u' ')), FTimeout(Options.Timeout) {
    if (!Options.WorkingDirectory.isEmpty()) FProcess.setWorkingDirectory(Options.WorkingDirectory);
    FProcess.setProcessEnvironment(Options.Environment);
    if (Options.MergeChannels) FProcess.setProcessChannelMode(QProcess::MergedChannels);
    if (Options.InChild) FProcess.setChildProcessModifier(Options.InChild);
    FProcess.start(Program, Arguments);
    // Held until the program has started, then written to it.
    FProcess.write(Options.Input);
    FProcess.closeWriteChannel();
}

bool ProgramRun::Started() {
    const bool started = FProcess.waitForStarted();
    EXPECT_TRUE(started) << FName.toStdString() << ": " << FProcess.errorString().toStdString();
    return started;
}

RunResult ProgramRun::Finish() {
    FEnded = FProcess.waitForFinished(int(FTimeout.count()));
    EXPECT_TRUE(FEnded) << FName.toStdString() << ": " << FProcess.errorString().toStdString();
    RunResult result;
    if (FEnded) {
        result.ExitStatus = FProcess.exitStatus();
        if (result.ExitStatus == QProcess::NormalExit) result.ExitCode = FProcess.exitCode();
    }
    result.Out = FProcess.readAllStandardOutput();
    result.Err = FProcess.readAllStandardError();
    return result;
}

RunResult RunProgram(const QString& Program, const QStringList& Arguments, const RunOptions& Options) {
    ProgramRun run(Program, Arguments, Options);
    const RunResult result = run.Finish();
    if (run.Ended()) {  // else Finish has said why
        EXPECT_EQ(result.ExitStatus, QProcess::NormalExit)
            << (QStringList{Program} + Arguments).join(u' ').toStdString() << " ended by a signal\n"
            << result.Err.toStdString();
    }
    return result;
}

}  // namespace testing_support
