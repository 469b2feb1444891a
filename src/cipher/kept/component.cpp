#include "cipher/kept/component.h"

#include <algorithm>
#include <stdexcept>

TComponent::~TComponent() {
    // Newest first, and each leaves the list before it runs its destructor, so
    // nothing ever sees a half-destroyed sibling in the list.
    while (!Owned.empty()) {
        std::unique_ptr<TComponent> last = std::move(Owned.back());
        Owned.pop_back();
        last.reset();
    }
}

TComponent& TComponent::Components(int index) const {
    if (index < 0 || index >= ComponentCount()) throw std::out_of_range("Component index out of range");
    return *Owned[static_cast<size_t>(index)];
}

TComponent& TComponent::InsertComponent(std::unique_ptr<TComponent> component) {
    if (!component) throw std::invalid_argument("No component to insert");
    TComponent& ref = *component;
    ref.OwnerRef = this;
    Owned.push_back(std::move(component));
    return ref;
}

std::unique_ptr<TComponent> TComponent::RemoveComponent(TComponent& component) {
    auto it = std::find_if(Owned.begin(), Owned.end(),
                           [&](const std::unique_ptr<TComponent>& p) { return p.get() == &component; });
    if (it == Owned.end()) throw std::invalid_argument("Component is not owned here");
    std::unique_ptr<TComponent> taken = std::move(*it);
    Owned.erase(it);
    taken->OwnerRef = nullptr;
    return taken;
}

void TComponent::FreeComponent(TComponent& component) { RemoveComponent(component).reset(); }
