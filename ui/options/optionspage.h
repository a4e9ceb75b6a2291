#pragma once
// OptionsPage: one page of the options dialog, the frame under its tab.
// A widget that shows a field is bound to its OptionsFields member where the
// widget is made; show() and collect() go through those bindings, so a page
// names each of its fields once. Each page also owns the rules that enable
// its widgets from its own switches. Below the class, the widget makers the
// pages share.

#include "features/options/options.h"

#include <QHash>
#include <QWidget>
#include <functional>
#include <vector>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QListWidget;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tessaly {

class OptionsPage : public QWidget {
public:
    // The tab's caption and tip, and the key the dialog finds the page by;
    // the page itself is named "fra" + key.
    const QString& caption() const { return caption_; }
    const QString& key() const { return key_; }
    const QString& tip() const { return tip_; }

    using QWidget::show;
    // Shows the bound fields, then applies the rules. Showing again replaces
    // what the last show put in, the entries of filled drop-downs included.
    void show(const OptionsFields& f);
    // Writes every bound widget back into its field.
    void collect(OptionsFields& f) const;
    // Enables the widgets that depend on a switch of this page.
    virtual void applyRules() {}

protected:
    OptionsPage(const char* caption, const char* key, const char* tip);

    QLineEdit* bindText(QLineEdit* edit, QString OptionsFields::*field);
    QCheckBox* bindCheck(QCheckBox* box, bool OptionsFields::*field);
    // A drop-down with fixed entries; a stored value it lacks is added.
    QComboBox* bindChoice(QComboBox* box, QString OptionsFields::*field);
    // A drop-down whose entries are read again at every show.
    QComboBox* bindChoice(QComboBox* box, QString OptionsFields::*field, std::function<QStringList()> entries);
    // Radio buttons whose ids are the field's values; a value beyond them
    // shows as the nearest one.
    template <typename T> QButtonGroup* bindRadio(QButtonGroup* group, T OptionsFields::*field) {
        bindId(
            group, [field](const OptionsFields& f) { return static_cast<int>(f.*field); },
            [field](OptionsFields& f, int id) { f.*field = static_cast<T>(id); });
        return group;
    }
    // A field shown and collected by hand.
    void bind(std::function<void(const OptionsFields&)> show, std::function<void(OptionsFields&)> collect);

    // Clicking the box, or any button of the group, applies the rules again.
    void rulesFollow(QAbstractButton* box);
    void rulesFollow(QButtonGroup* group);
    // Leaving `edit` puts its text through `fix` (a raise to the lowest value).
    void fixOnLeave(QLineEdit* edit, void (*fix)(QString&));

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Binding {
        std::function<void(const OptionsFields&)> show;
        std::function<void(OptionsFields&)> collect;
    };
    void bindId(QButtonGroup* group, std::function<int(const OptionsFields&)> get,
                std::function<void(OptionsFields&, int)> set);

    QString caption_;
    QString key_;
    QString tip_;
    std::vector<Binding> bindings_;
    QHash<QObject*, void (*)(QString&)> onLeave_;
};

namespace optionsui {

QLineEdit* lineEdit(QWidget* parent, const char* name, const char* tip = nullptr);
QCheckBox* checkBox(QWidget* parent, const char* name, const char* caption, const char* tip = nullptr);
QPushButton* button(QWidget* parent, const char* name, const char* caption);
QComboBox* comboBox(QWidget* parent, const char* name, const QStringList& items = {});
QGroupBox* frame(QWidget* parent, const char* name, const char* caption);
// A list in the first column of `grid` with New, Edit and a third button
// (`removeName`, `removeCaption`) above each other beside it; each button
// calls its slot.
struct ListButtons {
    const char* newName;
    const char* editName;
    const char* removeName;
    const char* removeCaption;
};
QListWidget* listWithButtons(QWidget* page, QGridLayout* grid, const char* listName, const ListButtons& names,
                             const std::function<void()>& onNew, const std::function<void()>& onEdit,
                             const std::function<void()>& onRemove);
// A radio button added to `group` under `id`.
QRadioButton* radioButton(QWidget* parent, QButtonGroup* group, int id, const QString& name, const char* caption,
                          const char* tip = nullptr);
// A label that is looked up or enabled by rules, so it has a name.
QLabel* label(QWidget* parent, const char* name, const char* caption = "");
// Selects the entry with this text; a stored value the list lacks is added
// so that saving does not lose it.
void selectText(QComboBox* box, const QString& text);
// A field with a browse button beside it.
QHBoxLayout* withButton(QWidget* field, QPushButton* b);

} // namespace optionsui
} // namespace tessaly
