#pragma once
// A test certificate authority and a server certificate for "localhost"
// signed by it, made with openssl in a temporary directory. Trusting ca()
// makes "localhost" verify; "127.0.0.1" then fails as a wrong host name.

#include <QProcess>
#include <QTemporaryDir>

namespace tessaly::testing {

class TestCertificates {
public:
    bool make() {
        const QString d = dir_.path();
        QFile ext(d + QStringLiteral("/ext.cnf"));
        if (!ext.open(QIODevice::WriteOnly) || ext.write("subjectAltName=DNS:localhost\n") < 0)
            return false;
        ext.close();
        const QStringList key = {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                                 QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
        return run(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + key +
                   QStringList{QStringLiteral("-keyout"), d + QStringLiteral("/ca.key"), QStringLiteral("-out"), ca(),
                               QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                               QStringLiteral("/CN=Tessaly Test CA")}) &&
               run(QStringList{QStringLiteral("req")} + key +
                   QStringList{QStringLiteral("-keyout"), serverKey(), QStringLiteral("-out"), d + QStringLiteral("/server.csr"),
                               QStringLiteral("-subj"), QStringLiteral("/CN=localhost")}) &&
               run({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), d + QStringLiteral("/server.csr"),
                    QStringLiteral("-CA"), ca(), QStringLiteral("-CAkey"), d + QStringLiteral("/ca.key"),
                    QStringLiteral("-CAcreateserial"), QStringLiteral("-out"), serverCert(), QStringLiteral("-days"),
                    QStringLiteral("2"), QStringLiteral("-extfile"), ext.fileName()});
    }
    QString ca() const { return dir_.path() + QStringLiteral("/ca.pem"); }
    QString serverCert() const { return dir_.path() + QStringLiteral("/server.pem"); }
    QString serverKey() const { return dir_.path() + QStringLiteral("/server.key"); }

private:
    static bool run(const QStringList& args) {
        QProcess p;
        p.start(QStringLiteral("openssl"), args);
        return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }
    QTemporaryDir dir_;
};

} // namespace tessaly::testing
