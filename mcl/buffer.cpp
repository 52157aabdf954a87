// The two instances the library uses are compiled once here.
#include "mcl/buffer.h"

namespace mcl {

template class buffer<unsigned char>;
template class buffer<void*>;

} // namespace mcl
