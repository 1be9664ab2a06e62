// SPDX-License-Identifier: GPL-3.0-or-later
// Base of every component: an optional owner that destroys what it owns.
#pragma once

#include <cstdint>
#include <vector>

namespace murmelin {

class TComponent {
public:
  // With an owner, the owner destroys this component with itself.
  explicit TComponent(TComponent* aowner = nullptr);
  virtual ~TComponent();

  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return fowner; }
  int32_t ComponentCount() const { return static_cast<int32_t>(fcomponents.size()); }
  // The owned component at index; raises the list index error outside 0 .. ComponentCount - 1.
  TComponent* Components(int32_t index) const;

  // Runs once after the owner has set the component's properties.
  virtual void Loaded() {}

  // Called by an owner once its components are configured: runs Loaded of each, in order.
  void loaded_components();

private:
  void insert_component(TComponent* c);
  void remove_component(TComponent* c);

  TComponent* fowner;
  std::vector<TComponent*> fcomponents;
};

}  // namespace murmelin
