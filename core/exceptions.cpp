// SPDX-License-Identifier: GPL-3.0-or-later
#include "exceptions.h"

namespace murmelin {

EListError EListError::index_error(long long index) {
  return EListError("List index out of bounds (" + std::to_string(index) + ")");
}

}  // namespace murmelin
