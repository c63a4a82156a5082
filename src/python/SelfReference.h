#ifndef QUORVANE_PYTHON_SELFREFERENCE_H
#define QUORVANE_PYTHON_SELFREFERENCE_H

#include <utility>

namespace quorvane {

/// Wraps a member function for binding so that self is taken by reference.
/// pybind11 passes a member function's self as a pointer, and a method called
/// through its class with None as self (Class.method(None)) would run on a
/// null object; taken by reference, None is refused with TypeError. Self names
/// the bound class, so that signatures show it for members of a base class.
template <class Self, class C, class R, class... A>
auto bySelfRef(R (C::*f)(A...))
{
  return [f](Self& self, A... args) -> R { return (self.*f)(std::forward<A>(args)...); };
}

template <class Self, class C, class R, class... A>
auto bySelfRef(R (C::*f)(A...) const)
{
  return [f](const Self& self, A... args) -> R { return (self.*f)(std::forward<A>(args)...); };
}

} // namespace quorvane

#endif
