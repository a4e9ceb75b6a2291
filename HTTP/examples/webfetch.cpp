// webfetch: fetch one URL with Webwire and print the status line and the body.
//
//     webfetch [--timeout SECONDS] [--redirect] URL
//
// Errors go to standard error; the exit status is 0 when an answer arrived.

#include <webwire/chttp.h>

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    webwire::CHTTP http;
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--timeout") && !args.isEmpty())
            http.SetHTTPTimeout(static_cast<qint16>(args.takeFirst().toInt()));
        else if (option == QLatin1String("--redirect"))
            http.SetEnableRedirection(true);
    }
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: webfetch [--timeout SECONDS] [--redirect] URL\n");
        return 2;
    }
    QObject::connect(&http, &webwire::CHTTP::HTTPError,
                     [](const QString& message) { std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData()); });
    QString url = args.first();
    const QByteArray body = http.GetURLData(url).toLatin1();
    const QString header = http.HTTPHeader();
    const QString status = header.left(header.indexOf(QLatin1Char('\r')));
    if (!header.startsWith(QLatin1String("HTTP/")))
        return 1;
    std::printf("Status: %s\n", status.toLocal8Bit().constData());
    std::fwrite(body.constData(), 1, static_cast<size_t>(body.size()), stdout);
    return 0;
}
