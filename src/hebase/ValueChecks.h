#ifndef QUORVANE_HEBASE_VALUECHECKS_H
#define QUORVANE_HEBASE_VALUECHECKS_H

#include <complex>
#include <vector>

namespace quorvane {

/// Checks of the numbers that tiles, encoders and contexts are given.
namespace ValueChecks {

/// Refuses with std::invalid_argument "The scale must be finite and positive,
/// but it is <scale>" a scale that is NaN, infinite, zero or negative.
void checkScale(double scale);

/// The same, except that -1.0 (an encoder's "no scale of its own") passes.
void checkEncoderScale(double scale);

/// Refuse with std::invalid_argument "Cannot encode the non-finite value <v>
/// [at index <i>]: only finite values can be encoded" a value that is NaN or
/// infinite (either part of a complex value); for backends that cannot
/// represent such values.
void checkFinite(double value);
void checkFinite(const std::vector<double>& values);
void checkFinite(const std::vector<std::complex<double>>& values);

} // namespace ValueChecks

} // namespace quorvane

#endif
