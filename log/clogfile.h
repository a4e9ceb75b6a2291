#pragma once
// CLogFile: the append-only activity log. Every line opens the file, appends
// and closes it again, so the file is complete on disk after each line.
// Switching logging from off to on keeps the previous log as "<name>.old".

#include <QString>
#include <QVariant>
#include <memory>

class QFile;

namespace tessaly {

class Clock;
class Prompter;

// A text box that receives a copy of each logged line.
class LogTextBox {
public:
    virtual ~LogTextBox() = default;
    virtual QString Text() const = 0;
    virtual void SetText(const QString& text) = 0;
};

class CLogFile {
public:
    CLogFile(Prompter& prompter, const Clock& clock);
    ~CLogFile();
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

    // Kept for callers of the original interface; neither touches the log.
    void ClearLogFile() {}
    bool ReadLogFile(LogTextBox* /*textBox*/) { return false; }

    QString Path() const { return path_; }
    void SetPath(const QString& path) { path_ = path; }
    QString LogFileName() const { return logFileName_; }
    void SetLogFileName(const QString& name);
    QString OldLogFileName() const { return oldLogFileName_; }
    bool LogEnable() const { return logEnable_; }
    void SetLogEnable(bool enable);
    // Turns logging on and keeps appending to the current log (no roll-over):
    // for one-shot runs that add their lines to the program's running log.
    void ContinueLog();

    QString FullLogPath() const;
    QString FullOldLogPath() const;

    // Shows the message (OK button, no icon), then logs it.
    void MsgBoxLog(const QVariant& message);
    // Appends "<message> <date and time>\r\n" to the log and, when given, to the text box.
    void LogMessage(const QString& message, LogTextBox* textBox = nullptr);

    // The date and time text that follows each message.
    static QString LineSuffix(const QDateTime& when);

private:
    void startNewLog();
    bool openForAppend();
    void writeString(const QByteArray& bytes);
    void closeFile();
    void warn(const QString& description);

    Prompter& prompter_;
    const Clock& clock_;
    QString path_;
    QString logFileName_;
    QString oldLogFileName_;
    bool logEnable_ = false;
    bool enabledBefore_ = false;
    std::unique_ptr<QFile> file_; // open only inside one operation
};

} // namespace tessaly
