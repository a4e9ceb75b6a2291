#include "ui/options/schedulepage.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace tessaly {

using namespace optionsui;

namespace {

// Index 1 = Sunday .. 7 = Saturday, as OptionsFields::weekdays.
const char* const kDayNames[] = {"", "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

} // namespace

SchedulePage::SchedulePage() : OptionsPage("Schedule", "Schedule", "Email Notification Schedule") {
    auto* layout = new QVBoxLayout(this);
    auto* every = new QHBoxLayout;
    auto* txtFrequency = bindText(lineEdit(this, "txtFrequency"), &OptionsFields::frequency);
    txtFrequency->setMaximumWidth(60);
    every->addWidget(new QLabel(QStringLiteral("Check mail every"), this));
    every->addWidget(txtFrequency);
    every->addWidget(new QLabel(QStringLiteral("minutes"), this));
    every->addStretch();
    layout->addLayout(every);
    auto* times = new QFormLayout;
    times->addRow(QStringLiteral("Start Time"), bindText(lineEdit(this, "txtStartTime"), &OptionsFields::startTime));
    times->addRow(QStringLiteral("Stop Time"), bindText(lineEdit(this, "txtStopTime"), &OptionsFields::stopTime));
    layout->addLayout(times);
    // Monday first, as people read a week.
    for (const std::size_t day : {2, 3, 4, 5, 6, 7, 1}) {
        QCheckBox* box = checkBox(this, "", kDayNames[day]);
        box->setObjectName(QStringLiteral("chk") + QString::fromLatin1(kDayNames[day]));
        bind([box, day](const OptionsFields& f) { box->setChecked(f.weekdays[day]); },
             [box, day](OptionsFields& f) { f.weekdays[day] = box->isChecked(); });
        layout->addWidget(box);
    }
    layout->addStretch();
}

} // namespace tessaly
