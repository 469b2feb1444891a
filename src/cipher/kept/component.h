#pragma once
// Owner-managed lifetime for hash and cipher objects. An owner keeps the
// components handed to it and destroys them, newest first, when it is itself
// destroyed; a component freed earlier leaves its owner's list. Ownership is
// held by std::unique_ptr, so there is never a second owner to double-free.

#include <memory>
#include <utility>
#include <vector>

class TComponent {
public:
    TComponent() = default;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;
    virtual ~TComponent();

    // The component that owns this one, or null.
    TComponent* Owner() const noexcept { return OwnerRef; }
    int ComponentCount() const noexcept { return static_cast<int>(Owned.size()); }
    // The index-th owned component, in insertion order; std::out_of_range if none.
    TComponent& Components(int index) const;

    // Makes a T owned by this component and returns it.
    template <class T, class... Args>
    T& CreateComponent(Args&&... args) {
        return static_cast<T&>(InsertComponent(std::make_unique<T>(std::forward<Args>(args)...)));
    }
    // Takes over a component that has no owner yet.
    TComponent& InsertComponent(std::unique_ptr<TComponent> component);
    // Destroys an owned component now; std::invalid_argument if it is not ours.
    void FreeComponent(TComponent& component);
    // Gives an owned component back to the caller, who then owns it.
    std::unique_ptr<TComponent> RemoveComponent(TComponent& component);

private:
    TComponent* OwnerRef = nullptr;
    std::vector<std::unique_ptr<TComponent>> Owned;
};
