#include "app/headlessmainview.h"

#include <cstdio>

namespace tessaly {

void HeadlessMainView::ActivityChanged(const QString&, const QString& line) {
    if (!echo_)
        return;
    // The line already ends with CR LF; standard output gets a plain LF.
    QString out = line;
    if (out.endsWith(QLatin1String("\r\n")))
        out.chop(2);
    std::fprintf(stdout, "%s\n", out.toLocal8Bit().constData());
    std::fflush(stdout);
}

} // namespace tessaly
