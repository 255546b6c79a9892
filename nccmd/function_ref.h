// A non-owning reference to something callable, so the transfer loops can
// take the caller's lambdas without allocating and without being templates.
// The referenced callable must outlive the call that receives the reference.
#pragma once

#include <memory>
#include <type_traits>
#include <utility>

namespace nccmd {

template <typename Signature>
class FunctionRef;

template <typename R, typename... Args>
class FunctionRef<R(Args...)> {
public:
    FunctionRef() = default;

    template <typename F>
        requires(!std::is_same_v<std::remove_cvref_t<F>, FunctionRef> && std::is_invocable_r_v<R, F &, Args...>)
    FunctionRef(F &&callable)  // NOLINT: implicit on purpose, like a function pointer
        : object_(const_cast<void *>(static_cast<const void *>(std::addressof(callable)))),
          call_([](void *object, Args... args) -> R {
              return (*static_cast<std::remove_reference_t<F> *>(object))(std::forward<Args>(args)...);
          }) {}

    R operator()(Args... args) const { return call_(object_, std::forward<Args>(args)...); }

    // An empty reference stands for "no callback"; callers test it first.
    explicit operator bool() const { return call_ != nullptr; }

private:
    void *object_ = nullptr;
    R (*call_)(void *, Args...) = nullptr;
};

}  // namespace nccmd
