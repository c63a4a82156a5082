#ifndef QUORVANE_PYTHON_CONTEXTLIFETIME_H
#define QUORVANE_PYTHON_CONTEXTLIFETIME_H

#include <memory>
#include <utility>

#include <pybind11/pybind11.h>

namespace quorvane {

class HeContext;

/// The shared pointer through which Python holds the context; once Python's
/// object is gone, the one that objects made from the context still share.
/// Empty when Python never owned the context.
std::shared_ptr<const HeContext> findPythonHeldContext(const HeContext& he);

/// Moves an object made from a context into a holder for Python that also
/// keeps the context alive, so that dropping the context's Python object
/// first is harmless. Unlike a keep-alive on the object it was made from, it
/// holds nothing else (no chains of copies stay alive).
template <class T>
std::shared_ptr<T> holdWithContext(T&& value, const HeContext& he)
{
  std::shared_ptr<const HeContext> context = findPythonHeldContext(he);
  return std::shared_ptr<T>(new T(std::move(value)), [context](T* p) { delete p; });
}

/// The same for an object the library already holds in a shared pointer.
template <class T>
std::shared_ptr<T> holdWithContext(std::shared_ptr<T> object, const HeContext& he)
{
  std::shared_ptr<const HeContext> context = findPythonHeldContext(he);
  if (!context)
    return object;
  T* raw = object.get();
  return std::shared_ptr<T>(raw, [object, context](T*) mutable {
    // The object goes before its context.
    object.reset();
    context.reset();
  });
}

/// Keeps the context alive as long as the Python object nurse lives, for
/// containers whose elements refer to contexts (nothing when Python never
/// owned the context). Each context is kept once per nurse.
void keepContextAlive(pybind11::handle nurse, const HeContext& he);

/// A new object made from a context (a library result), held as
/// holdWithContext does with the object's own context.
template <class T>
std::shared_ptr<T> holdResult(T&& value)
{
  const HeContext& he = value.getHeContext();
  return holdWithContext(std::move(value), he);
}

/// The binding of a const member of T that returns a new object made from a
/// context (such as a returning twin of a tile tensor): the result is held as
/// holdResult holds it.
template <class R, class T, class... Args>
auto returningHeld(R (T::*member)(Args...) const)
{
  return [member](const T& self, Args... args) { return holdResult((self.*member)(args...)); };
}

/// A copy of an object made from a context, held as holdWithContext does.
template <class T>
std::shared_ptr<T> holdCopyWithContext(const T& src)
{
  return holdWithContext(T(src), src.getHeContext());
}

} // namespace quorvane

#endif
