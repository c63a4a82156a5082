#ifndef QUORVANE_HEBASE_PUBLICFUNCTIONS_H
#define QUORVANE_HEBASE_PUBLICFUNCTIONS_H

#include <cstdint>
#include <vector>

#include "hebase/utils/Saveable.h"

namespace quorvane {

/// Which rotations the public keys support. Saved as an int32; any int32
/// value can be held (and is refused where it is used).
enum RotationSetType : int32_t
{
  /// No rotations.
  NO_ROTATIONS = 0,
  /// The backend's default rotation set.
  DEFAULT_ROTATIONS = 1,
  /// The steps listed in PublicFunctions::rotationSteps.
  CUSTOM_ROTATIONS = 2
};

/// Whether the public keys support conjugation. Saved as an int32; any int32
/// value can be held (and is refused where it is used).
enum ConjugationSupport : int32_t
{
  /// No conjugation.
  FALSE = 0,
  /// The backend's default.
  DEFAULT = 1,
  /// Conjugation supported.
  TRUE = 2
};

/// The functionalities that a context's public keys support.
struct PublicFunctions : public SaveableBasic
{
  /// The public keys support encryption.
  bool encrypt = true;
  /// The public keys support relinearisation.
  bool relinearize = true;
  /// Which rotations have keys.
  RotationSetType rotate = DEFAULT_ROTATIONS;
  /// Conjugation support.
  ConjugationSupport conjugate = DEFAULT;
  /// The rotation steps with keys when rotate is CUSTOM_ROTATIONS.
  std::vector<int> rotationSteps;

  PublicFunctions() = default;
  PublicFunctions(const PublicFunctions&) = default;
  PublicFunctions(PublicFunctions&&) = default;
  PublicFunctions& operator=(const PublicFunctions&) = default;
  PublicFunctions& operator=(PublicFunctions&&) = default;
  ~PublicFunctions() override = default;

  /// Turns every functionality off and empties the rotation steps.
  void clear();

  /// Refuses rotation steps unless rotate is CUSTOM_ROTATIONS.
  void validate() const;

  /// Whether every functionality asked for here is also asked for by other.
  bool isSubsetOf(const PublicFunctions& other) const;

  /// Same rotate value and the same set of rotation steps.
  bool hasSameRotations(const PublicFunctions& other) const;

  /// Writes encrypt, relinearize, rotate, conjugate and the steps; returns bytes written.
  std::streamoff save(std::ostream& out) const override;

  /// Reads what save wrote; the object changes only when the whole read succeeds.
  std::streamoff load(std::istream& in) override;
};

} // namespace quorvane

#endif
