#include "features/paging/carriersettings.h"

#include "platform/settingsstore.h"
#include "state/appinfo.h"

#include <QUrl>
#include <functional>

namespace tessaly {

namespace {

// Names may hold "=" or "[", which the file's lines cannot carry in a name.
QString nameKey(const QString& name) {
    return QString::fromLatin1(QUrl::toPercentEncoding(name, " !#$&'()*+,-/:;<>?@^_`{|}~"));
}

// A pager's line. A pager without a name gets "%": a line with no name
// is never read back, and no name percent-encodes to a lone "%".
QString pagerKey(const CPager& p) { return p.Username().isEmpty() ? QStringLiteral("%") : nameKey(p.Username()); }

QString serviceKey(const CPagerService& s, const char* value) {
    return nameKey(s.Name()) + QLatin1Char('.') + QLatin1String(value);
}

QString flagText(bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); }

// One service value: its name, how it shows in the file, its default text.
struct ServiceValue {
    const char* name;
    QString (*get)(const CPagerService&);
    void (*put)(CPagerService&, const QString&);
    QString byDefault;
};

const ServiceValue kServiceValues[] = {
    {"Address", [](const CPagerService& s) { return s.Address(); },
     [](CPagerService& s, const QString& v) { s.SetAddress(v); }, QString()},
    {"TLS", [](const CPagerService& s) { return flagText(s.UseTls()); },
     [](CPagerService& s, const QString& v) { s.SetUseTls(v.trimmed() == QLatin1String("1")); }, QStringLiteral("0")},
    {"Sender ID", [](const CPagerService& s) { return s.SenderID(); },
     [](CPagerService& s, const QString& v) { s.SetSenderID(v); }, QString()},
    {"Security Code", [](const CPagerService& s) { return s.SecurityCode(); },
     [](CPagerService& s, const QString& v) { s.SetSecurityCode(v); }, QString()},
    {"Receipts", [](const CPagerService& s) { return flagText(s.Receipts()); },
     [](CPagerService& s, const QString& v) { s.SetReceipts(v.trimmed() == QLatin1String("1")); }, QStringLiteral("0")},
};

} // namespace

QString CarrierTypeText(PagerType t) {
    switch (t) {
    case PagerAlphaDialUp:
    case PagerAlphaSMTP:
    case PagerNumeric: return {};
    case PagerWCTP: return QStringLiteral("WCTP");
    case PagerSNPP: return QStringLiteral("SNPP");
    case PagerAlphaTCP: return QStringLiteral("TCP");
    }
    return {};
}

std::optional<PagerType> ParseCarrierType(const QString& text) {
    for (PagerType t : {PagerWCTP, PagerSNPP, PagerAlphaTCP})
        if (CarrierTypeText(t).compare(text.trimmed(), Qt::CaseInsensitive) == 0)
            return t;
    return std::nullopt;
}

void ApplyCarrierSettings(const SettingsStore& store, PagerList& pagers, ServiceList& services) {
    for (CPager& p : pagers)
        if (const auto t = ParseCarrierType(store.read(kAppTitle, kPagerTypesSection, pagerKey(p), {})))
            p.SetPagerType(*t);
    for (CPagerService& s : services)
        for (const ServiceValue& v : kServiceValues)
            v.put(s, store.read(kAppTitle, kCarrierServicesSection, serviceKey(s, v.name), v.byDefault));
}

QString SaveCarrierSettings(SettingsStore& store, const PagerList& pagers, const ServiceList& services) {
    QString failure;
    // An entry is written only when what it means differs from `value`
    // (an absent entry means `byDefault`), so that an entry spelt another
    // way ("tcp", "TLS=0") or naming nothing the reader knows, but read as
    // the same value, stays byte for byte as it was.
    auto put = [&](const QString& section, const QString& name, const QString& value, const QString& byDefault,
                   const std::function<QString(const QString&)>& meaning) {
        const bool has = store.contains(kAppTitle, section, name);
        const QString now = has ? meaning(store.read(kAppTitle, section, name, {})) : byDefault;
        if (now == value)
            return;
        if (value == byDefault)
            store.remove(kAppTitle, section, name);
        else
            store.write(kAppTitle, section, name, value);
        if (failure.isEmpty())
            failure = store.lastFailure();
    };
    const auto typeMeaning = [](const QString& text) {
        const auto t = ParseCarrierType(text);
        return t ? CarrierTypeText(*t) : QString();
    };
    for (const CPager& p : pagers)
        put(kPagerTypesSection, pagerKey(p), CarrierTypeText(p.PagerType()), QString(), typeMeaning);
    for (const CPagerService& s : services)
        for (const ServiceValue& v : kServiceValues) {
            const auto meaning = [&v](const QString& text) {
                CPagerService read;
                v.put(read, text);
                return v.get(read);
            };
            put(kCarrierServicesSection, serviceKey(s, v.name), v.get(s), v.byDefault, meaning);
        }
    return failure;
}

} // namespace tessaly
