#pragma once
// CFilter: one rule that says which mail to ignore. Filters: the ordered list
// of rules, evaluated on every message a check reads.

#include "ground/keyedlist.h"

#include <QString>
#include <cstdint>

namespace tessaly {

class CFilter {
public:
    // Which part of the message is tested.
    enum Object : std::int16_t { Subject = 0, Sender = 1, Body = 2, Recipient = 3 };
    // How it is tested.
    enum Action : std::int16_t { Contains = 0, DoesNotContain = 1, Is = 2, IsNot = 3 };

    QString Name() const { return name_; }
    void SetName(const QString& v) { name_ = v; }
    std::int16_t FilterObject() const { return object_; }
    void SetFilterObject(std::int16_t v) { object_ = v; }
    std::int16_t FilterAction() const { return action_; }
    void SetFilterAction(std::int16_t v) { action_ = v; }
    QString FilterText() const { return text_; }
    void SetFilterText(const QString& v) { text_ = v; }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v) { enabled_ = v; }

    // True when this rule matches the given parts of a message (enabled or not).
    bool Matches(const QString& subject, const QString& recipient, const QString& sender, const QString& body) const;

private:
    QString name_;
    std::int16_t object_ = Subject;
    std::int16_t action_ = Contains;
    QString text_;
    bool enabled_ = false;
};

class Prompter;

// What the filter window reports for its fields, in this order: a missing
// name, a missing text, then a double quote (the filter file cannot hold
// one). Empty when the fields are fine.
QString filterEntryProblem(const QString& name, const QString& text);

class Filters {
public:
    static inline const QString kDefaultFilename = QStringLiteral("filters.dat");

    // Appends a rule (under `key` when it is not empty). A duplicate key adds
    // nothing and returns no rule.
    CFilter* Add(const QString& name, std::int16_t object, std::int16_t action, const QString& text, bool enabled,
                 const QString& key = {});
    // The rule, or none when the position or key does not exist.
    CFilter* Item(int position) const;
    CFilter* Item(const QString& key) const { return list_.Find(key); }
    int Count() const { return list_.Count(); }
    void Remove(int position) { list_.Remove(position); }
    void Remove(const QString& key) { list_.Remove(key); }
    void Clear() { list_.Clear(); }
    auto begin() const { return list_.begin(); }
    auto end() const { return list_.end(); }
    // Empties `target` and appends a copy of every rule, without keys.
    void CopyObjects(Filters& target) const;

    // True when an enabled rule matches; the first match decides.
    bool CheckForSpam(const QString& subject, const QString& recipient, const QString& sender,
                      const QString& body) const;
    // The number (from 1) of the first enabled rule that matches; 0: none.
    int MatchingRule(const QString& subject, const QString& recipient, const QString& sender,
                     const QString& body) const;

    // A short text that changes whenever an enabled rule is added, removed
    // or edited: what a remembered spam verdict was made with.
    QString Fingerprint() const;

    QString Filename() const { return filename_; }
    void SetFilename(const QString& name) { filename_ = name; }
    // The folder of the filter file (the program directory).
    QString Directory() const { return directory_; }
    void SetDirectory(const QString& dir) { directory_ = dir; }
    QString FilePath() const;

    // Writes every rule, replacing the file. Problems are shown through
    // `prompter`; a rule the file cannot hold is refused and nothing is written.
    // True when the file was written.
    bool Save(Prompter& prompter);
    // Appends the rules of the file. A missing file adds nothing, silently;
    // other problems are shown and keep the rules read before them.
    void Read(Prompter& prompter);

    // The text a file error is shown with.
    static QString ErrorText(int number, const QString& drive = {});

private:
    KeyedList<CFilter> list_;
    QString filename_;
    QString directory_;
};

} // namespace tessaly
