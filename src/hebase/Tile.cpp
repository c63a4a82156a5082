#include "hebase/Tile.h"

#include "hebase/StartupRegistration.h"

namespace quorvane {

namespace {

// Referring to the registrations links them into every program that uses tiles.
[[maybe_unused]] const bool registrationsLinked = startupRegistrationLinked();

} // namespace

Tile::~Tile() {}

} // namespace quorvane
