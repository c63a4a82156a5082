#include "python/ContextLifetime.h"

#include <pybind11/pybind11.h>

#include <unordered_map>

#include "hebase/HeContext.h"

namespace py = pybind11;

namespace quorvane {

namespace {

typedef std::unordered_map<const HeContext*, std::weak_ptr<const HeContext>> KnownContexts;

// Every context found held by Python, so that objects made later from a tile
// (copies, products) still find it once its Python object is gone while tiles
// keep it alive. Used with the GIL held only. Never destroyed: objects may be
// released during interpreter shutdown.
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
  // Casting by reference finds the Python object that already wraps the
  // context; a context Python does not own yields a wrapper without a holder.
  try {
    py::object wrapper = py::cast(&he, py::return_value_policy::reference);
    std::shared_ptr<const HeContext> held = py::cast<std::shared_ptr<HeContext>>(wrapper);
    if (held) {
      remember(he, held);
      return held;
    }
  } catch (const py::cast_error&) {
  } catch (const py::error_already_set&) {
  }
  // A context that Python held once and that objects made from it still keep
  // alive. An expired entry (also one whose address was reused) yields nothing.
  KnownContexts& known = knownContexts();
  auto it = known.find(&he);
  if (it == known.end())
    return nullptr;
  std::shared_ptr<const HeContext> alive = it->second.lock();
  if (!alive)
    known.erase(it);
  return alive;
}

} // namespace quorvane
