#include "cavity/ContactObject.h"

namespace cavitas {

void TNewContactObject::FindInnerWater() {}

}  // namespace cavitas
