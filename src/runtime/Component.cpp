#include "zorvex/Component.h"

#include <algorithm>

#include "zorvex/Exception.h"

namespace zorvex {

TComponent::TComponent(TComponent* owner) : owner_(owner) {
    if (owner_) owner_->InsertComponent(this);
}

TComponent::~TComponent() {
    Destroying();
    // Each owned component leaves through RemoveComponent, so the ones still
    // here hear of it.
    while (!components_.empty()) {
        TComponent* child = components_.back();
        components_.pop_back();
        delete child;
    }
}

void TComponent::Destroying() {
    if (destroying_) return;
    destroying_ = true;
    while (!notified_.empty()) {
        TComponent* other = notified_.back();
        notified_.pop_back();
        auto& back = other->notified_;
        back.erase(std::remove(back.begin(), back.end(), this), back.end());
        other->Notification(this, TOperation::opRemove);
    }
    if (TComponent* owner = owner_) {
        owner->RemoveComponent(this);
        owner_ = nullptr;
    }
}

void TComponent::FreeNotification(TComponent* other) {
    if (!other || other == this) return;
    if (std::find(notified_.begin(), notified_.end(), other) == notified_.end()) notified_.push_back(other);
    if (std::find(other->notified_.begin(), other->notified_.end(), this) == other->notified_.end())
        other->notified_.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* other) {
    if (!other) return;
    notified_.erase(std::remove(notified_.begin(), notified_.end(), other), notified_.end());
    other->notified_.erase(std::remove(other->notified_.begin(), other->notified_.end(), this),
                           other->notified_.end());
}

void TComponent::Notification(TComponent* component, TOperation operation) {
    if (operation == TOperation::opRemove) RemoveFreeNotification(component);
    // A receiver may remove components of ours; the index is checked again.
    for (std::size_t i = components_.size(); i-- > 0;) {
        if (i < components_.size()) components_[i]->Notification(component, operation);
    }
}

void TComponent::InsertComponent(TComponent* child) {
    components_.push_back(child);
    child->owner_ = this;
    Notification(child, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* child) {
    components_.erase(std::remove(components_.begin(), components_.end(), child), components_.end());
    Notification(child, TOperation::opRemove);
}

const std::string& TStrings::operator[](int index) const {
    if (index < 0 || index >= Count())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    return lines_[static_cast<std::size_t>(index)];
}

std::string TStrings::Text() const {
    std::string text;
    for (const auto& line : lines_) {
        text += line;
        text += "\r\n";
    }
    return text;
}

}  // namespace zorvex
