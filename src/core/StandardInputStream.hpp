#pragma once

#include "core/FileInputStream.hpp"

namespace plistable {

/// An input stream over the process's standard input (descriptor 0), buffered like a file and left
/// open when the stream closes.
class StandardInputStream : public FileInputStream {
public:
    StandardInputStream() : FileInputStream(0, "standard input") {}
};

} // namespace plistable
