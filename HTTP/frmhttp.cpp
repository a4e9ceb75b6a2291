#include "frmhttp.h"

#include "frmterminal.h"
#include "ground/sockerr.h"
#include "htmltext.h"

namespace webwire {

namespace {
void trafficLine(const QString& text) { TrafficWindow::ShowData(text + QStringLiteral("\r\n")); }
} // namespace

FrmHTTP::FrmHTTP(tessaly::HttpControl& control, QObject* parent) : QObject(parent), control_(control) {
    using C = tessaly::HttpControl;
    connect(&control_, &C::connected, this, [this] {
        serverConnection_ = true;
        socketClosed_ = false;
        data_.clear();
        trafficLine(QStringLiteral("HTTP Server Connected..."));
    });
    connect(&control_, &C::serverConnectionClosed, this, [this] {
        serverConnection_ = false;
        trafficLine(QStringLiteral("HTTP Server Connection Closed..."));
    });
    connect(&control_, &C::socketClosed, this, [this] {
        socketClosed_ = true;
        trafficLine(QStringLiteral("HTTP Socket Closed..."));
    });
    connect(&control_, &C::fileClosed, this, [this] {
        fileClosed_ = true;
        trafficLine(QStringLiteral("HTTP File Closed..."));
    });
    connect(&control_, &C::packetSent, this, [] { trafficLine(QStringLiteral("HTTP Packet Sent...")); });
    connect(&control_, &C::stateChanged, this,
            [](int state) { trafficLine(QStringLiteral("HTTP Event state:") + QString::number(state)); });
    connect(&control_, &C::dataReceived, this, [this](const QString& text, int) {
        data_ += text;
        if (control_.Echo())
            trafficLine(text::NormaliseLineBreaks(text));
    });
    connect(&control_, &C::error, this, &FrmHTTP::onError);
    connect(&control_, &C::secureError, this, &FrmHTTP::onSecureError);
}

QString FrmHTTP::ErrorMessage(int k) {
    QString name;
    const QString description = tessaly::sockerr::Lookup(k, &name);
    return QStringLiteral("HTTP Winsock Error %1, %2: %3").arg(k).arg(name, description);
}

void FrmHTTP::onError(int number) {
    const QString message = ErrorMessage(number);
    trafficLine(message);
    emit WSError(message);
    winsockError_ = true;
    if (number == tessaly::sockerr::NoError) {
        control_.Abort();
        winsockError_ = false;
    }
}

void FrmHTTP::onSecureError(const QString& description) {
    const QString message = QStringLiteral("HTTP TLS Error: ") + description;
    trafficLine(message);
    emit WSError(message);
    winsockError_ = true;
}

} // namespace webwire
