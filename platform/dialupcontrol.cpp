#include "platform/dialupcontrol.h"

#include "ground/tessalyerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace tessaly {

namespace {

const QStringList kDialupTypes = {QStringLiteral("gsm"), QStringLiteral("cdma"), QStringLiteral("pppoe"),
                                  QStringLiteral("bluetooth"), QStringLiteral("adsl")};

// nmcli's terse output escapes ":" and "\" with a backslash.
QStringList terseFields(const QString& line) {
    QStringList fields{QString()};
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == QLatin1Char('\\') && i + 1 < line.size())
            fields.last() += line[++i];
        else if (line[i] == QLatin1Char(':'))
            fields << QString();
        else
            fields.last() += line[i];
    }
    return fields;
}

// nmcli exit codes as dial-up error numbers.
int dialError(int exitCode) {
    switch (exitCode) {
    case 0: return DialupControl::NoError;
    case 3: return DialupControl::ErrorRequestTimeout;
    case 4: return DialupControl::ErrorNoConnection;
    case 10: return DialupControl::ErrorCannotFindEntry;
    default: return DialupControl::ErrorUnknown;
    }
}

} // namespace

NmcliDialupControl::NmcliDialupControl(EventPump& pump, QString program, QObject* parent)
    : pump_(pump), program_(std::move(program)) {
    setParent(parent);
}

NmcliDialupControl::~NmcliDialupControl() {
    if (dial_) {
        dial_->disconnect(this);
        dial_->kill();
        dial_->waitForFinished(1000); // at destruction only: reaps the child killed just now
    }
    if (!passwordFile_.isEmpty())
        QFile::remove(passwordFile_);
}

QString NmcliDialupControl::program() const {
    const QString found = program_.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("nmcli"))
                                             : (QFileInfo(program_).isExecutable() ? program_ : QString());
    if (found.isEmpty())
        throw TessalyError(NotInstalled, QStringLiteral("Dial-up networking (NetworkManager) is not installed"));
    return found;
}

QByteArray NmcliDialupControl::run(const QStringList& arguments, int* exitCode) {
    QProcess process;
    process.setProgram(program());
    process.setArguments(arguments);
    bool finished = false;
    connect(&process, &QProcess::finished, &process, [&finished] { finished = true; });
    connect(&process, &QProcess::errorOccurred, &process, [&finished](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            finished = true;
    });
    process.start();
    if (!pump_.waitUntil([&finished] { return finished; }, commandTimeout_, nullptr)) {
        process.kill();
        pump_.waitUntil([&finished] { return finished; }, 2, nullptr);
        throw TessalyError(ErrorRequestTimeout, QStringLiteral("Dial-up networking did not answer"));
    }
    if (process.error() == QProcess::FailedToStart)
        throw TessalyError(NotInstalled, QStringLiteral("Dial-up networking (NetworkManager) is not installed"));
    if (exitCode)
        *exitCode = process.exitCode();
    return process.readAllStandardOutput();
}

QStringList NmcliDialupControl::entries(bool activeOnly) {
    QStringList arguments{QStringLiteral("-t"), QStringLiteral("-f"), QStringLiteral("NAME,TYPE"),
                          QStringLiteral("connection"), QStringLiteral("show")};
    if (activeOnly)
        arguments << QStringLiteral("--active");
    QStringList names;
    for (const QString& line : QString::fromUtf8(run(arguments)).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList fields = terseFields(line);
        if (fields.size() >= 2 && kDialupTypes.contains(fields[1]))
            names << fields[0];
    }
    return names;
}

QStringList NmcliDialupControl::ActiveConnections() { return entries(true); }

QStringList NmcliDialupControl::EntryList() { return entries(false); }

QString NmcliDialupControl::typeOf(const QString& entry) {
    const QByteArray out = run({QStringLiteral("-t"), QStringLiteral("-g"), QStringLiteral("connection.type"),
                                QStringLiteral("connection"), QStringLiteral("show"), QStringLiteral("id"), entry});
    return QString::fromUtf8(out).trimmed();
}

NmcliDialupControl::Credentials NmcliDialupControl::EntryCredentials(const QString& entry) {
    Credentials credentials;
    const QByteArray out = run({QStringLiteral("-s"), QStringLiteral("-t"), QStringLiteral("connection"),
                                QStringLiteral("show"), QStringLiteral("id"), entry});
    for (const QString& line : QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        const QString key = line.left(colon);
        const QString value = line.mid(colon + 1);
        if (value == QLatin1String("--"))
            continue;
        if (key.endsWith(QLatin1String(".username")))
            credentials.user = value;
        else if (key.endsWith(QLatin1String(".password")))
            credentials.password = value;
    }
    return credentials;
}

void NmcliDialupControl::Dial() {
    const QString nmcli = program();
    if (dial_)
        HangUp();
    QStringList arguments{QStringLiteral("connection"), QStringLiteral("up"), QStringLiteral("id"), EntryName()};
    const QString type = typeOf(EntryName());
    if (!User().isEmpty() && !type.isEmpty()) {
        int exitCode = 0;
        run({QStringLiteral("connection"), QStringLiteral("modify"), QStringLiteral("id"), EntryName(),
             type + QStringLiteral(".username"), User()},
            &exitCode);
    }
    if (!Password().isEmpty() && !type.isEmpty()) {
        // The secret goes through a private file, not the command line.
        QTemporaryFile file(QDir::tempPath() + QStringLiteral("/tessaly-dial-XXXXXX"));
        file.setAutoRemove(false);
        if (file.open()) {
            file.write((type + QStringLiteral(".password:") + Password() + QLatin1Char('\n')).toUtf8());
            passwordFile_ = file.fileName();
            arguments << QStringLiteral("passwd-file") << passwordFile_;
        }
    }
    dial_ = std::make_unique<QProcess>();
    dial_->setProgram(nmcli);
    dial_->setArguments(arguments);
    connect(dial_.get(), &QProcess::finished, this, [this](int exitCode, QProcess::ExitStatus status) {
        const int error = status == QProcess::NormalExit ? dialError(exitCode) : ErrorUnknown;
        dial_.release()->deleteLater();
        if (!passwordFile_.isEmpty()) {
            QFile::remove(passwordFile_);
            passwordFile_.clear();
        }
        emit stateChanged(error == NoError ? StateConnected : StateDisconnected, error);
    });
    emit stateChanged(StateOpenPort, NoError);
    dial_->start();
    emit stateChanged(StateConnectDevice, NoError);
}

void NmcliDialupControl::HangUp() {
    program();
    if (dial_) {
        dial_->disconnect(this);
        bool finished = false;
        connect(dial_.get(), &QProcess::finished, this, [&finished] { finished = true; });
        dial_->kill();
        pump_.waitUntil([&finished] { return finished; }, 2, nullptr);
        dial_->disconnect(this);
        dial_.release()->deleteLater();
    }
    for (const QString& name : ActiveConnections())
        run({QStringLiteral("connection"), QStringLiteral("down"), QStringLiteral("id"), name});
}

} // namespace tessaly
