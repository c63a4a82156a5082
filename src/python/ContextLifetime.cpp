#include "python/ContextLifetime.h"

#include <pybind11/pybind11.h>

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "hebase/HeContext.h"

namespace py = pybind11;

namespace quorvane {

namespace {

typedef std::unordered_map<const HeContext*, std::weak_ptr<const HeContext>> KnownContexts;

// Every context found held by Python, so that objects made later from a tile
// (copies, products) still find it once its Python object is gone while tiles
// keep it alive, and so that a known context is found without asking Python.
// Used with the GIL held only. Never destroyed: objects may be released during
// interpreter shutdown.
KnownContexts& knownContexts()
{
  static KnownContexts* known = new KnownContexts();
  return *known;
}

void remember(const HeContext& he, const std::shared_ptr<const HeContext>& held)
{
  static size_t sizeAfterPruning = 0;
  KnownContexts& known = knownContexts();
  known[&he] = held;
  if (known.size() > 2 * sizeAfterPruning + 16) {
    for (auto it = known.begin(); it != known.end();)
      it = it->second.expired() ? known.erase(it) : std::next(it);
    sizeAfterPruning = known.size();
  }
}

} // namespace

std::shared_ptr<const HeContext> findPythonHeldContext(const HeContext& he)
{
  // A live entry is this very context: no other object can have its address.
  KnownContexts& known = knownContexts();
  auto it = known.find(&he);
  if (it != known.end()) {
    if (std::shared_ptr<const HeContext> alive = it->second.lock())
      return alive;
    known.erase(it);
  }
  // Casting by reference finds the Python object that already wraps the
  // context; a context Python does not own yields a wrapper without a holder.
  try {
    py::object wrapper = py::cast(&he, py::return_value_policy::reference);
    std::shared_ptr<const HeContext> held = py::cast<std::shared_ptr<HeContext>>(wrapper);
    if (held)
      remember(he, held);
    return held;
  } catch (const py::cast_error&) {
  } catch (const py::error_already_set&) {
  }
  return nullptr;
}

void keepContextAlive(py::handle nurse, const HeContext& he)
{
  std::shared_ptr<const HeContext> held = findPythonHeldContext(he);
  if (!held)
    return;
  // The Python object of the context (a new one sharing the context when
  // Python's first one is gone).
  py::object patient = py::cast(std::const_pointer_cast<HeContext>(held));
  const std::vector<PyObject*>& kept = py::detail::get_internals().patients[nurse.ptr()];
  if (std::find(kept.begin(), kept.end(), patient.ptr()) != kept.end())
    return;
  py::detail::keep_alive_impl(nurse, patient);
}

} // namespace quorvane
