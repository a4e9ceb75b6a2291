#include "ui/options/optionspage.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

namespace tessaly {

OptionsPage::OptionsPage(const char* caption, const char* key, const char* tip)
    : caption_(QString::fromLatin1(caption)), key_(QString::fromLatin1(key)), tip_(QString::fromLatin1(tip)) {
    setObjectName(QStringLiteral("fra") + key_);
}

void OptionsPage::show(const OptionsFields& f) {
    for (const Binding& b : bindings_)
        b.show(f);
    applyRules();
}

void OptionsPage::collect(OptionsFields& f) const {
    for (const Binding& b : bindings_)
        b.collect(f);
}

void OptionsPage::bind(std::function<void(const OptionsFields&)> show, std::function<void(OptionsFields&)> collect) {
    bindings_.push_back({std::move(show), std::move(collect)});
}

QLineEdit* OptionsPage::bindText(QLineEdit* edit, QString OptionsFields::*field) {
    bind([=](const OptionsFields& f) { edit->setText(f.*field); }, [=](OptionsFields& f) { f.*field = edit->text(); });
    return edit;
}

QCheckBox* OptionsPage::bindCheck(QCheckBox* box, bool OptionsFields::*field) {
    bind([=](const OptionsFields& f) { box->setChecked(f.*field); },
         [=](OptionsFields& f) { f.*field = box->isChecked(); });
    return box;
}

QComboBox* OptionsPage::bindChoice(QComboBox* box, QString OptionsFields::*field) {
    bind([=](const OptionsFields& f) { optionsui::selectText(box, f.*field); },
         [=](OptionsFields& f) { f.*field = box->currentText(); });
    return box;
}

QComboBox* OptionsPage::bindChoice(QComboBox* box, QString OptionsFields::*field,
                                   std::function<QStringList()> entries) {
    bind(
        [=](const OptionsFields& f) {
            box->clear();
            box->addItems(entries());
            optionsui::selectText(box, f.*field);
        },
        [=](OptionsFields& f) { f.*field = box->currentText(); });
    return box;
}

void OptionsPage::bindId(QButtonGroup* group, std::function<int(const OptionsFields&)> get,
                         std::function<void(OptionsFields&, int)> set) {
    bind(
        [=](const OptionsFields& f) {
            const int last = static_cast<int>(group->buttons().size()) - 1;
            group->button(std::clamp(get(f), 0, last))->setChecked(true);
        },
        [=](OptionsFields& f) { set(f, std::max(0, group->checkedId())); });
}

void OptionsPage::rulesFollow(QAbstractButton* box) {
    connect(box, &QAbstractButton::clicked, this, &OptionsPage::applyRules);
}

void OptionsPage::rulesFollow(QButtonGroup* group) {
    connect(group, &QButtonGroup::idClicked, this, &OptionsPage::applyRules);
}

void OptionsPage::fixOnLeave(QLineEdit* edit, void (*fix)(QString&)) {
    onLeave_.insert(edit, fix);
    edit->installEventFilter(this);
}

bool OptionsPage::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        if (auto fix = onLeave_.value(watched)) {
            auto* edit = static_cast<QLineEdit*>(watched);
            QString text = edit->text();
            fix(text);
            edit->setText(text);
        }
    }
    return QWidget::eventFilter(watched, event);
}

namespace optionsui {

QLineEdit* lineEdit(QWidget* parent, const char* name, const char* tip) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    if (tip)
        e->setToolTip(QString::fromLatin1(tip));
    return e;
}

QCheckBox* checkBox(QWidget* parent, const char* name, const char* caption, const char* tip) {
    auto* c = new QCheckBox(QString::fromLatin1(caption), parent);
    c->setObjectName(QString::fromLatin1(name));
    if (tip)
        c->setToolTip(QString::fromLatin1(tip));
    return c;
}

QPushButton* button(QWidget* parent, const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromLatin1(caption), parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
}

QListWidget* listWithButtons(QWidget* page, QGridLayout* grid, const char* listName, const ListButtons& names,
                             const std::function<void()>& onNew, const std::function<void()>& onEdit,
                             const std::function<void()>& onRemove) {
    auto* list = new QListWidget(page);
    list->setObjectName(QString::fromLatin1(listName));
    grid->addWidget(list, 0, 0, 4, 1);
    const char* buttonNames[] = {names.newName, names.editName, names.removeName};
    const char* captions[] = {"New", "Edit", names.removeCaption};
    const std::function<void()>* handlers[] = {&onNew, &onEdit, &onRemove};
    for (int i = 0; i < 3; ++i) {
        QPushButton* b = button(page, buttonNames[i], captions[i]);
        grid->addWidget(b, i, 1);
        QObject::connect(b, &QPushButton::clicked, page, *handlers[i]);
    }
    return list;
}

QComboBox* comboBox(QWidget* parent, const char* name, const QStringList& items) {
    auto* c = new QComboBox(parent);
    c->setObjectName(QString::fromLatin1(name));
    c->addItems(items);
    return c;
}

QGroupBox* frame(QWidget* parent, const char* name, const char* caption) {
    auto* g = new QGroupBox(QString::fromLatin1(caption), parent);
    g->setObjectName(QString::fromLatin1(name));
    return g;
}

QRadioButton* radioButton(QWidget* parent, QButtonGroup* group, int id, const QString& name, const char* caption,
                          const char* tip) {
    auto* r = new QRadioButton(QString::fromLatin1(caption), parent);
    r->setObjectName(name);
    if (tip)
        r->setToolTip(QString::fromLatin1(tip));
    group->addButton(r, id);
    return r;
}

QLabel* label(QWidget* parent, const char* name, const char* caption) {
    auto* l = new QLabel(QString::fromLatin1(caption), parent);
    l->setObjectName(QString::fromLatin1(name));
    return l;
}

void selectText(QComboBox* box, const QString& text) {
    int i = box->findText(text);
    if (i < 0 && !text.isEmpty()) {
        box->addItem(text);
        i = box->count() - 1;
    }
    box->setCurrentIndex(i);
}

QHBoxLayout* withButton(QWidget* field, QPushButton* b) {
    auto* row = new QHBoxLayout;
    row->addWidget(field, 1);
    row->addWidget(b);
    return row;
}

} // namespace optionsui
} // namespace tessaly
