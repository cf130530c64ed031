#include "core/io/InputStream.hpp"

namespace plistable {

// Out of line so that the vtable has one home.
InputStream::~InputStream() = default;

} // namespace plistable
