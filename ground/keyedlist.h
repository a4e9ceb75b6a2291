#pragma once
// The keyed object list: ordered, 1-based, each member with an optional text
// key. Keys are unique and compared without regard to letter case; lookup by
// key is a hash. The list owns its members.

#include "ground/tessalyerror.h"

#include <QHash>
#include <QString>
#include <memory>
#include <vector>

namespace tessaly {

template <typename T> class KeyedList {
    struct Entry {
        std::unique_ptr<T> member;
        QString key;
    };

public:
    KeyedList() = default;
    KeyedList(const KeyedList&) = delete;
    KeyedList& operator=(const KeyedList&) = delete;
    KeyedList(KeyedList&&) noexcept = default;
    KeyedList& operator=(KeyedList&&) noexcept = default;

    // Adds at the end. An empty key adds without a key; a key already in the
    // list (in any letter case) is an error and the list is left unchanged.
    T& Add(std::unique_ptr<T> member, const QString& key = {}) {
        if (!member)
            throw TessalyError(err::InvalidCall, QStringLiteral("Invalid procedure call or argument"));
        const QString folded = fold(key);
        if (!key.isEmpty() && byKey_.contains(folded))
            throw TessalyError(err::DuplicateKey,
                               QStringLiteral("Key is already associated with an element of this collection"));
        T& ref = *member;
        entries_.push_back(Entry{std::move(member), key});
        if (!key.isEmpty())
            byKey_.insert(folded, &ref);
        return ref;
    }
    T& Add(T member, const QString& key = {}) { return Add(std::make_unique<T>(std::move(member)), key); }

    // Position 1 .. Count.
    T& Item(int position) const { return *entries_.at(checkedIndex(position)).member; }
    T& Item(const QString& key) const {
        T* found = Find(key);
        if (!found)
            throw TessalyError(err::InvalidCall, QStringLiteral("Invalid procedure call or argument"));
        return *found;
    }
    // nullptr when no member has this key.
    T* Find(const QString& key) const {
        if (key.isEmpty())
            return nullptr;
        return byKey_.value(fold(key), nullptr);
    }
    bool Contains(const QString& key) const { return Find(key) != nullptr; }
    // The key a member was added under (empty when none).
    QString KeyAt(int position) const { return entries_.at(checkedIndex(position)).key; }
    // Files the member at `position` under a new key (empty: no key). A key
    // another member holds is an error and nothing changes.
    void SetKey(int position, const QString& key) {
        Entry& e = entries_.at(checkedIndex(position));
        T* holder = Find(key);
        if (holder && holder != e.member.get())
            throw TessalyError(err::DuplicateKey,
                               QStringLiteral("Key is already associated with an element of this collection"));
        if (!e.key.isEmpty())
            byKey_.remove(fold(e.key));
        e.key = key;
        if (!key.isEmpty())
            byKey_.insert(fold(key), e.member.get());
    }

    int Count() const { return static_cast<int>(entries_.size()); }
    bool IsEmpty() const { return entries_.empty(); }

    void Remove(int position) {
        const auto index = checkedIndex(position);
        if (!entries_[index].key.isEmpty())
            byKey_.remove(fold(entries_[index].key));
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
    }
    void Remove(const QString& key) {
        T* found = Find(key);
        if (!found)
            throw TessalyError(err::InvalidCall, QStringLiteral("Invalid procedure call or argument"));
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (entries_[i].member.get() == found) {
                Remove(static_cast<int>(i) + 1);
                return;
            }
        }
    }
    void Clear() {
        entries_.clear();
        byKey_.clear();
    }
    // Removes every member for which `remove` holds, in one pass; returns how many.
    template <typename Pred> int RemoveIf(Pred remove) {
        std::size_t kept = 0;
        int removed = 0;
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (remove(*entries_[i].member)) {
                if (!entries_[i].key.isEmpty())
                    byKey_.remove(fold(entries_[i].key));
                ++removed;
            } else {
                if (kept != i)
                    entries_[kept] = std::move(entries_[i]);
                ++kept;
            }
        }
        entries_.resize(kept);
        return removed;
    }

    // Empties `target` and fills it with copies of these members under the same keys.
    void CopyObjects(KeyedList& target) const {
        if (&target == this)
            return;
        target.Clear();
        for (const Entry& e : entries_)
            target.Add(std::make_unique<T>(*e.member), e.key);
    }

    class iterator {
    public:
        using Inner = typename std::vector<Entry>::const_iterator;
        explicit iterator(Inner it) : it_(it) {}
        T& operator*() const { return *it_->member; }
        T* operator->() const { return it_->member.get(); }
        iterator& operator++() {
            ++it_;
            return *this;
        }
        bool operator==(const iterator& o) const { return it_ == o.it_; }
        bool operator!=(const iterator& o) const { return it_ != o.it_; }

    private:
        Inner it_;
    };
    iterator begin() const { return iterator(entries_.cbegin()); }
    iterator end() const { return iterator(entries_.cend()); }

private:
    static QString fold(const QString& key) { return key.toCaseFolded(); }
    std::size_t checkedIndex(int position) const {
        if (position < 1 || position > Count())
            throw TessalyError(err::SubscriptRange, QStringLiteral("Subscript out of range"));
        return static_cast<std::size_t>(position - 1);
    }

    std::vector<Entry> entries_;
    QHash<QString, T*> byKey_;
};

} // namespace tessaly
