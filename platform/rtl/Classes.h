#pragma once
// The run-time's owned-component base: an owner frees the components it owns when it goes.

#include <rtl/System.h>

#include <vector>

class TComponent : public TObject {
public:
    explicit TComponent(TComponent* AOwner);
    // Frees the owned components (newest first), then leaves the owner's list.
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

private:
    TComponent* FOwner;
    std::vector<TComponent*> FComponents;
};
