#include "log/clogfile.h"

#include "ground/tessalyerror.h"
#include "ground/textfmt.h"
#include "platform/eventpump.h"
#include "platform/prompter.h"

#include <QFile>
#include <QFileInfo>

namespace tessaly {

CLogFile::CLogFile(Prompter& prompter, const Clock& clock) : prompter_(prompter), clock_(clock) {}

CLogFile::~CLogFile() = default;

void CLogFile::SetLogFileName(const QString& name) {
    logFileName_ = name;
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    oldLogFileName_ = (dot < 0 ? name : name.left(dot)) + QLatin1String(".old");
}

// The separator is always inserted, whatever the folder ends with.
QString CLogFile::FullLogPath() const { return path_ + QLatin1Char('/') + logFileName_; }
QString CLogFile::FullOldLogPath() const { return path_ + QLatin1Char('/') + oldLogFileName_; }

void CLogFile::SetLogEnable(bool enable) {
    if (path_.isEmpty() || logFileName_.isEmpty()) {
        prompter_.messageBox(QStringLiteral("Invalid path or filename in LogFile Class"));
        return;
    }
    logEnable_ = enable;
    if (!enabledBefore_ && enable) {
        startNewLog();
        closeFile();
    }
    enabledBefore_ = enable;
}

void CLogFile::ContinueLog() {
    if (path_.isEmpty() || logFileName_.isEmpty()) {
        prompter_.messageBox(QStringLiteral("Invalid path or filename in LogFile Class"));
        return;
    }
    logEnable_ = true;
    enabledBefore_ = true;
}

void CLogFile::warn(const QString& description) { prompter_.messageBox(description, MsgButtons::OK, MsgIcon::Warning); }

void CLogFile::startNewLog() {
    const QString logPath = FullLogPath();
    const QString oldPath = FullOldLogPath();
    QFileInfo log(logPath);
    if (log.exists() || log.isSymLink()) {
        QFileInfo old(oldPath);
        if (old.exists() || old.isSymLink()) {
            QFile oldFile(oldPath);
            if (!oldFile.remove()) {
                warn(oldFile.errorString());
                return;
            }
        }
        QFile logFile(logPath);
        if (!logFile.rename(oldPath)) {
            warn(logFile.errorString());
            return;
        }
    }
    file_ = std::make_unique<QFile>(logPath);
    if (!file_->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        const QString description = file_->errorString();
        file_.reset();
        warn(description);
    }
}

bool CLogFile::openForAppend() {
    file_ = std::make_unique<QFile>(FullLogPath());
    if (!file_->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        const QString description = file_->errorString();
        file_.reset();
        warn(description);
        return false;
    }
    return true;
}

void CLogFile::writeString(const QByteArray& bytes) {
    if (!file_)
        return;
    for (;;) {
        if (file_->write(bytes) == bytes.size())
            return;
        const QString description = file_->errorString();
        const MsgAnswer answer = prompter_.messageBox(description, MsgButtons::RetryCancel, MsgIcon::Critical);
        if (answer != MsgAnswer::Retry) {
            closeFile();
            return;
        }
        // Nothing of a failed unbuffered write is kept, so the whole string goes again.
        file_->unsetError();
    }
}

void CLogFile::closeFile() {
    if (file_)
        file_->close();
    file_.reset();
}

QString CLogFile::LineSuffix(const QDateTime& when) {
    return QLatin1Char(' ') + formatGeneralDate(when) + QLatin1String("\r\n");
}

void CLogFile::MsgBoxLog(const QVariant& message) {
    const QString text = message.toString();
    prompter_.messageBox(text);
    LogMessage(text, nullptr);
}

void CLogFile::LogMessage(const QString& message, LogTextBox* textBox) {
    if (!logEnable_)
        return;
    try {
        const QString suffix = LineSuffix(clock_.now());
        // The file holds 8-bit text; characters outside Latin-1 become '?'.
        if (openForAppend())
            writeString((message + suffix).toLatin1());
        closeFile();
        if (textBox)
            textBox->SetText(textBox->Text() + message + suffix);
    } catch (const TessalyError& e) {
        closeFile();
        prompter_.messageBox(QStringLiteral("Log Message Error in LogFile Class: ") + e.description());
    } catch (const std::exception& e) {
        closeFile();
        prompter_.messageBox(QStringLiteral("Log Message Error in LogFile Class: ") + QString::fromLocal8Bit(e.what()));
    }
}

} // namespace tessaly
