#include <kestrune/Component.h>

namespace kestrune {

TComponent::TComponent(QObject* AOwner) : QObject(AOwner) {}

void TComponent::SetDesigning(bool Value) {
    if (Value)
        FComponentState.Include(TComponentStateFlag::csDesigning);
    else
        FComponentState.Exclude(TComponentStateFlag::csDesigning);
}

void TComponent::BeginLoading() { FComponentState.Include(TComponentStateFlag::csLoading); }

void TComponent::EndLoading() { Loaded(); }

void TComponent::Loaded() { FComponentState.Exclude(TComponentStateFlag::csLoading); }

}  // namespace kestrune
