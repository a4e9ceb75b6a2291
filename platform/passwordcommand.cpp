#include "platform/passwordcommand.h"

#include <QProcess>

namespace tessaly {

PasswordCommandResult RunPasswordCommand(EventPump& pump, const QString& commandLine, double timeoutSeconds,
                                         const bool* cancel) {
    constexpr qsizetype kMaxOutput = 64 * 1024;
    PasswordCommandResult r;
    QStringList words = QProcess::splitCommand(commandLine);
    if (words.isEmpty()) {
        r.problem = QStringLiteral("no command is set");
        return r;
    }
    const QString program = words.takeFirst();
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    QByteArray output;
    bool ended = false;
    bool failedToStart = false;
    QObject::connect(&process, &QProcess::readyReadStandardOutput, [&] {
        const QByteArray more = process.readAllStandardOutput();
        if (output.size() < kMaxOutput)
            output += more.left(kMaxOutput - output.size());
    });
    QObject::connect(&process, &QProcess::finished, [&] { ended = true; });
    QObject::connect(&process, &QProcess::errorOccurred, [&](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) {
            failedToStart = true;
            ended = true;
        }
    });
    process.start(program, words);
    pump.waitUntil([&] { return ended || output.contains('\n'); }, timeoutSeconds, cancel);
    if (failedToStart) {
        r.problem = program + QStringLiteral(" could not be started (") + process.errorString() + QLatin1Char(')');
        return r;
    }
    if (!ended && !output.contains('\n')) {
        process.kill();
        process.waitForFinished(1000);
        r.problem = program + QStringLiteral(" gave no password in time");
        return r;
    }
    if (!ended) {
        // The first line is all that is needed; let the program finish on its own.
        pump.waitUntil([&] { return ended; }, timeoutSeconds, cancel);
        if (!ended) {
            process.kill();
            process.waitForFinished(1000);
        }
    }
    output += process.readAllStandardOutput();
    if (ended && (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)) {
        r.problem = program + QStringLiteral(" ended with exit status %1").arg(process.exitCode());
        return r;
    }
    const qsizetype lf = output.indexOf('\n');
    QByteArray line = lf >= 0 ? output.left(lf) : output;
    if (line.endsWith('\r'))
        line.chop(1);
    if (line.isEmpty()) {
        r.problem = program + QStringLiteral(" printed no password");
        return r;
    }
    r.ok = true;
    r.password = QString::fromUtf8(line);
    return r;
}

} // namespace tessaly
