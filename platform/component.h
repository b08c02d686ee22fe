// The component model the window and the archiver live in: an owner that destroys what it owns,
// and a component name (which the archiver's error messages quote).
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace lumen {

class TComponent {
 public:
  // With an owner, the owner holds the component and destroys it with itself; create owned
  // components through TComponent::Create so that ownership is explicit.
  explicit TComponent(TComponent* owner = nullptr) : owner_(owner) {}
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  virtual ~TComponent() {
    // Owned components go in reverse creation order, as a form tears down its controls.
    while (!owned_.empty()) owned_.pop_back();
  }

  const std::string& Name() const noexcept { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  TComponent* Owner() const noexcept { return owner_; }

  template <typename T, typename... Args>
  static T& Create(TComponent& owner, Args&&... args) {
    auto component = std::make_unique<T>(&owner, std::forward<Args>(args)...);
    T& ref = *component;
    owner.owned_.push_back(std::move(component));
    return ref;
  }

 private:
  TComponent* owner_;
  std::string name_;
  std::vector<std::unique_ptr<TComponent>> owned_;
};

}  // namespace lumen
