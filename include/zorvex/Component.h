// The small component layer the interpreter and the controls build on:
// ownership by an owner component, names, free notification, string lists.
#pragma once

#include <string>
#include <vector>

#include "zorvex/Export.h"

namespace zorvex {

enum class TOperation { opInsert, opRemove };

class ZORVEX_API TComponent {
public:
    explicit TComponent(TComponent* owner = nullptr);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }
    long Tag() const { return tag_; }
    void SetTag(long tag) { tag_ = tag; }

    // Set while a form designer edits the component (csDesigning).
    bool Designing() const { return designing_; }
    void SetDesigning(bool value) { designing_ = value; }

    // Components that want to hear when another one is destroyed, wherever
    // it lives. Components of one owner hear of each other through it.
    void FreeNotification(TComponent* other);
    void RemoveFreeNotification(TComponent* other);

    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* Component(int index) const { return components_.at(index); }

protected:
    // Hears of insertions into and removals from the owner's components and
    // of the end of components asked with FreeNotification. The base passes
    // every notice on to the components this one owns, so an owner's notice
    // reaches all of them; overrides call it.
    virtual void Notification(TComponent* component, TOperation operation);

    // Sends the removal notices. A derived destructor calls it first, so those
    // who hear still see the whole object; the base destructor calls it when
    // nobody did. Later calls do nothing.
    void Destroying();

private:
    void InsertComponent(TComponent* child);
    void RemoveComponent(TComponent* child);

    TComponent* owner_ = nullptr;
    std::string name_;
    long tag_ = 0;
    bool designing_ = false;
    bool destroying_ = false;
    std::vector<TComponent*> components_;
    std::vector<TComponent*> notified_;
};

// Ordered list of text lines (the error list of Execute, debug output).
class ZORVEX_API TStrings {
public:
    int Count() const { return static_cast<int>(lines_.size()); }
    const std::string& operator[](int index) const;
    void Add(std::string line) { lines_.push_back(std::move(line)); }
    void Clear() { lines_.clear(); }
    const std::vector<std::string>& Lines() const { return lines_; }
    std::string Text() const;  // lines joined by "\r\n", each line terminated

private:
    std::vector<std::string> lines_;
};

using TStringList = TStrings;

}  // namespace zorvex
