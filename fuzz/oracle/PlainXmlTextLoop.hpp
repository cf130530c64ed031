#pragma once

#include <array>

namespace plistable::fuzz::oracle {

/// The first byte of [u, end) that is not plain XML character data, one byte at a time.
const unsigned char* skipPlainXmlTextByBytes(const unsigned char* u, const unsigned char* end);

} // namespace plistable::fuzz::oracle
