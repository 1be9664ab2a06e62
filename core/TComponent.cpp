// SPDX-License-Identifier: GPL-3.0-or-later
#include "TComponent.h"

#include <algorithm>

#include "exceptions.h"

namespace murmelin {

TComponent::TComponent(TComponent* aowner) : fowner(aowner) {
  if (fowner) fowner->insert_component(this);
}

TComponent::~TComponent() {
  // Destroy owned components newest first; each one unlinks itself as it goes.
  while (!fcomponents.empty()) {
    TComponent* c = fcomponents.back();
    delete c;
  }
  if (fowner) fowner->remove_component(this);
}

TComponent* TComponent::Components(int32_t index) const {
  if (index < 0 || index >= ComponentCount()) throw EListError::index_error(index);
  return fcomponents[static_cast<std::size_t>(index)];
}

void TComponent::loaded_components() {
  // Loaded may not add or remove components; iterate over a copy to stay safe if it does.
  const std::vector<TComponent*> owned = fcomponents;
  for (TComponent* c : owned) c->Loaded();
}

void TComponent::insert_component(TComponent* c) { fcomponents.push_back(c); }

void TComponent::remove_component(TComponent* c) {
  auto it = std::find(fcomponents.begin(), fcomponents.end(), c);
  if (it != fcomponents.end()) fcomponents.erase(it);
}

}  // namespace murmelin
