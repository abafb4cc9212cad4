#include "Tessary/TSException.h"

namespace Tessary {

// Anchors the family's type information in the foundation library, so that
// every deliverable that catches it agrees on one definition.
TSException::~TSException() = default;

}  // namespace Tessary
