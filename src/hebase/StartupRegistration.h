#ifndef QUORVANE_HEBASE_STARTUPREGISTRATION_H
#define QUORVANE_HEBASE_STARTUPREGISTRATION_H

namespace quorvane {

/// True once the start-up registrations have run. Referring to it keeps the
/// registrations linked into programs that take the library from an archive.
bool startupRegistrationLinked();

} // namespace quorvane

#endif
