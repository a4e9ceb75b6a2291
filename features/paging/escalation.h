#pragma once
// What happens when a page cannot be delivered, and the daily test page,
// kept in the settings file (the profile file has no fields for them, and
// older readers of a profile must never meet them):
//   [Escalation]  Fallback=<pager name>,<pager name>,...   tried in order after pager 1
//                 Notify=<mail address>                    the failure notice goes there
//                 Proof Of Life=HH:MM                      the daily test page; absent: off
//                 Last Proof Of Life=yyyy-MM-dd            the day it last went out
//                 Alarm=<text>                             a page undeliverable, not acknowledged
//                 Alarm Since=<ISO time, UTC>
// Pager names are percent-encoded where they hold ",", "%" or a line end.
// The settings are read at profile load and written after a profile save,
// only what changed; the last date and the alarm are state, written as
// they change.

#include "features/paging/cpager.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTime>
#include <optional>

namespace tessaly {

class SettingsStore;

inline const QString kEscalationSection = QStringLiteral("Escalation");

struct EscalationSettings {
    QStringList fallback; // pagers' user names, in the order they are tried
    QString notify;       // where the failure notice goes; empty: no notice
    QTime proofOfLife;    // the daily test page's time; invalid: off
    bool operator==(const EscalationSettings&) const = default;
};

EscalationSettings LoadEscalation(const SettingsStore& store);
// Writes what differs from the settings file (an entry back at its default
// is removed); the reason of the first write that failed, empty when all went.
QString SaveEscalation(SettingsStore& store, const EscalationSettings& settings);

// The fallback chain as one text: "user2, user3".
QString FallbackText(const QStringList& names);
// Reads "2, pager3" against the pager list: a number is the pager at that
// position, anything else a pager's user name (any letter case). Pager 1,
// a name twice or one the list does not hold is refused with the reason in
// `why` (and an empty list returned). An empty text is no chain.
QStringList ParseFallback(const QString& text, const PagerList& pagers, QString* why);
// "HH:MM", or "off" for none.
QString ProofOfLifeText(const QTime& t);
// "HH:MM" (or "H:MM"), or "off" / empty for none; nullopt for anything else.
std::optional<QTime> ParseProofOfLife(const QString& text);
// A mail address the notice can go to (one address, local@domain); the
// reason otherwise, empty when it is one.
QString NoticeAddressProblem(const QString& address);

// The pagers a page is tried on: pager 1, then the chain's pagers the list
// holds (a name it no longer holds is passed over).
QList<const CPager*> PagerChain(const PagerList& pagers, const QStringList& fallback);

// The alarm that a page could not be delivered: it stays until the user
// acknowledges it, also across a restart.
struct UndeliverableAlarm {
    QString text; // empty: no alarm
    QDateTime since;
    bool Set() const { return !text.isEmpty(); }
};
UndeliverableAlarm LoadAlarm(const SettingsStore& store);
// Raises the alarm (a later page's text replaces an earlier one; its time
// stays the first); the reason when it could not be written.
QString RaiseAlarm(SettingsStore& store, const QString& text, const QDateTime& when);
QString AcknowledgeAlarm(SettingsStore& store);

// A page that no pager of the chain delivered.
struct UndeliveredPage {
    QString text;        // the page's text as pager 1 got it
    QStringList mails;   // the mail it stood for: "subject" from sender
    QStringList tried;   // one line per pager: its name, how it is reached, what became of it
    QDateTime firstSeen; // when its mail was first seen; invalid when unknown
};
// The failure notice's subject and text.
QString FailureNoticeSubject(const QList<UndeliveredPage>& pages);
QString FailureNoticeText(const QList<UndeliveredPage>& pages, const QDateTime& now);
// The alarm's one line.
QString AlarmText(const QList<UndeliveredPage>& pages, const QDateTime& now);

QDate LastProofOfLife(const SettingsStore& store);
QString SetLastProofOfLife(SettingsStore& store, const QDate& day);

} // namespace tessaly
