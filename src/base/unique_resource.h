// Owning wrapper for operating-system resources (handles, keys, search handles).
//
// One template, instantiated through small traits classes that name the invalid value(s) and the
// close function, so that no code outside the traits closes a resource by hand. Move-only; not
// thread-safe (an owner belongs to one caller at a time).
#pragma once

#include <utility>

namespace vx {

template <typename Traits>
class UniqueResource {
 public:
  using Type = typename Traits::Type;

  UniqueResource() noexcept = default;
  explicit UniqueResource(Type value) noexcept : value_(value) {}
  ~UniqueResource() { reset(); }

  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  [[nodiscard]] Type get() const noexcept { return value_; }
  [[nodiscard]] bool valid() const noexcept { return Traits::IsValid(value_); }
  explicit operator bool() const noexcept { return valid(); }

  // Address of the stored value for APIs that return the resource through an out parameter;
  // any resource held before is closed first.
  [[nodiscard]] Type* put() noexcept {
    reset();
    return &value_;
  }

  Type release() noexcept { return std::exchange(value_, Traits::Invalid()); }

  void reset(Type value = Traits::Invalid()) noexcept {
    Type old = std::exchange(value_, value);
    if (Traits::IsValid(old)) Traits::Close(old);
  }

 private:
  Type value_ = Traits::Invalid();
};

}  // namespace vx
