#ifndef QUORVANE_PYTHON_BOUNDCLASS_H
#define QUORVANE_PYTHON_BOUNDCLASS_H

#include <memory>
#include <type_traits>
#include <utility>

#include <pybind11/pybind11.h>

namespace quorvane {

namespace bound_class_detail {

// The first parameter of a function pointer or of a callable with one call
// operator; void when it cannot be told.
template <typename M>
struct CallOperatorFirstParameter
{
  using type = void;
};

template <typename R, typename C, typename P, typename... A>
struct CallOperatorFirstParameter<R (C::*)(P, A...) const>
{
  using type = P;
};

template <typename R, typename C, typename P, typename... A>
struct CallOperatorFirstParameter<R (C::*)(P, A...)>
{
  using type = P;
};

template <typename F, typename = void>
struct FirstParameter
{
  using type = void;
};

template <typename R, typename P, typename... A>
struct FirstParameter<R (*)(P, A...), void>
{
  using type = P;
};

template <typename F>
struct FirstParameter<F, std::void_t<decltype(&F::operator())>>
    : CallOperatorFirstParameter<decltype(&F::operator())>
{};

template <typename P>
struct PointedSelf
{
  using type = void;
};

template <typename U>
struct PointedSelf<U*>
{
  using type = U;
};

template <typename U>
struct PointedSelf<std::shared_ptr<U>>
{
  using type = U;
};

// True when a parameter of type P could receive self as a null pointer.
template <typename T, typename P>
constexpr bool takesSelfAsPointer()
{
  using Bare = std::remove_cv_t<std::remove_reference_t<P>>;
  using Pointed = std::remove_cv_t<typename PointedSelf<Bare>::type>;
  return !std::is_void<Pointed>::value && std::is_base_of<Pointed, T>::value;
}

} // namespace bound_class_detail

/// A pybind11 class whose members take self by reference. pybind11 binds a
/// member-function pointer through a function that takes self by pointer, which
/// lets None in as a null self; a reference refuses None with pybind11's
/// TypeError, as a mismatched argument is refused. Member-function pointers are
/// bound through such functions, and functions that take self by pointer do not
/// compile. Every definition method returns the BoundClass, so that chained
/// definitions go through it.
template <typename T, typename... Options>
class BoundClass : public pybind11::class_<T, Options...>
{
  using Base = pybind11::class_<T, Options...>;

public:
  using typename Base::type;
  using Base::Base;

  template <typename... Args>
  BoundClass& def(Args&&... args)
  {
    Base::def(bySelfReference(std::forward<Args>(args))...);
    return *this;
  }

  template <typename... Args>
  BoundClass& def_property(Args&&... args)
  {
    Base::def_property(bySelfReference(std::forward<Args>(args))...);
    return *this;
  }

  template <typename... Args>
  BoundClass& def_property_readonly(Args&&... args)
  {
    Base::def_property_readonly(bySelfReference(std::forward<Args>(args))...);
    return *this;
  }

  // Members whose functions pybind11 writes with self by reference, and static members.
  template <typename... Args>
  BoundClass& def_readwrite(Args&&... args)
  {
    Base::def_readwrite(std::forward<Args>(args)...);
    return *this;
  }

  template <typename... Args>
  BoundClass& def_readonly(Args&&... args)
  {
    Base::def_readonly(std::forward<Args>(args)...);
    return *this;
  }

  template <typename... Args>
  BoundClass& def_buffer(Args&&... args)
  {
    Base::def_buffer(std::forward<Args>(args)...);
    return *this;
  }

  template <typename... Args>
  BoundClass& def_cast(Args&&... args)
  {
    Base::def_cast(std::forward<Args>(args)...);
    return *this;
  }

  template <typename... Args>
  BoundClass& def_static(Args&&... args)
  {
    Base::def_static(std::forward<Args>(args)...);
    return *this;
  }

  template <typename... Args>
  BoundClass& def_readwrite_static(Args&&... args)
  {
    Base::def_readwrite_static(std::forward<Args>(args)...);
    return *this;
  }

  template <typename... Args>
  BoundClass& def_readonly_static(Args&&... args)
  {
    Base::def_readonly_static(std::forward<Args>(args)...);
    return *this;
  }

  template <typename... Args>
  BoundClass& def_property_static(Args&&... args)
  {
    Base::def_property_static(std::forward<Args>(args)...);
    return *this;
  }

  template <typename... Args>
  BoundClass& def_property_readonly_static(Args&&... args)
  {
    Base::def_property_readonly_static(std::forward<Args>(args)...);
    return *this;
  }

private:
  // A member function of T (or of a base of T), as a function of self by
  // reference that pybind11 describes as it describes the member itself.
  template <typename R, typename C, typename... A>
  static auto bySelfReference(R (C::*f)(A...))
  {
    static_assert(std::is_base_of<C, type>::value, "a member of another class");
    return [f](type& self, A... args) -> R { return (self.*f)(std::forward<A>(args)...); };
  }

  template <typename R, typename C, typename... A>
  static auto bySelfReference(R (C::*f)(A...) const)
  {
    static_assert(std::is_base_of<C, type>::value, "a member of another class");
    return [f](const type& self, A... args) -> R { return (self.*f)(std::forward<A>(args)...); };
  }

  template <typename R, typename C, typename... A>
  static auto bySelfReference(R (C::*f)(A...) noexcept)
  {
    static_assert(std::is_base_of<C, type>::value, "a member of another class");
    return [f](type& self, A... args) -> R { return (self.*f)(std::forward<A>(args)...); };
  }

  template <typename R, typename C, typename... A>
  static auto bySelfReference(R (C::*f)(A...) const noexcept)
  {
    static_assert(std::is_base_of<C, type>::value, "a member of another class");
    return [f](const type& self, A... args) -> R { return (self.*f)(std::forward<A>(args)...); };
  }

  // Anything else passes unchanged: names, docstrings, annotations, and
  // functions that take self by reference.
  template <typename F,
            std::enable_if_t<!std::is_member_function_pointer<std::decay_t<F>>::value, int> = 0>
  static F&& bySelfReference(F&& f)
  {
    using First = typename bound_class_detail::FirstParameter<std::decay_t<F>>::type;
    static_assert(!bound_class_detail::takesSelfAsPointer<T, First>(),
                  "take self by reference: a pointer lets None in as a null self");
    return std::forward<F>(f);
  }

  // Reference-qualified members are not bound.
  template <typename F,
            std::enable_if_t<std::is_member_function_pointer<std::decay_t<F>>::value, int> = 0>
  static void bySelfReference(F&&)
  {
    static_assert(!std::is_member_function_pointer<std::decay_t<F>>::value,
                  "bind a reference-qualified member through a function of self by reference");
  }
};

} // namespace quorvane

#endif
