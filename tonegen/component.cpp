#include "component.h"

#include <algorithm>
#include <cstring>

bool TBinaryStream::ReadBuffer(void* buffer, size_t count) {
  if (count > Remaining()) return false;
  if (count > 0) std::memcpy(buffer, bytes_.data() + position_, count);
  position_ += count;
  return true;
}

void TBinaryStream::WriteBuffer(const void* buffer, size_t count) {
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  bytes_.insert(bytes_.end(), bytes, bytes + count);
}

void TFiler::DefineBinaryProperty(const std::string& name, Reader read, Writer write,
                                  bool has_data) {
  properties_.push_back({name, std::move(read), std::move(write), has_data});
}

const TFiler::BinaryProperty* TFiler::Find(const std::string& name) const {
  for (const BinaryProperty& property : properties_) {
    if (property.name == name) return &property;
  }
  return nullptr;
}

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner != nullptr) {
    designing_ = AOwner->Designing();
    AOwner->InsertComponent(this);
  }
}

TComponent::~TComponent() {
  // Each owned component takes itself out of components_ as it goes.
  while (!components_.empty()) {
    delete components_.back();
  }
  if (owner_ != nullptr) owner_->RemoveComponent(this);
}

void TComponent::SetDesigning(bool on) {
  designing_ = on;
  for (TComponent* component : components_) component->SetDesigning(on);
}

void TComponent::DefineProperties(TFiler&) {}

void TComponent::InsertComponent(TComponent* component) {
  components_.push_back(component);
  component->owner_ = this;
}

void TComponent::RemoveComponent(TComponent* component) {
  auto it = std::find(components_.begin(), components_.end(), component);
  if (it != components_.end()) components_.erase(it);
  component->owner_ = nullptr;
}
