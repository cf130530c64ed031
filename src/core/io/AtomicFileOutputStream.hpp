#pragma once

#include "core/io/AtomicFile.hpp"
#include "core/io/OutputStream.hpp"

#include <string>

namespace plistable {

/// An output stream whose bytes go to a temporary file beside the target; the target is replaced
/// only by commit(), and only when every byte reached the temporary file. Destroying the stream
/// without a successful commit() leaves the target as it was.
class AtomicFileOutputStream : public OutputStream {
public:
    /// Makes the temporary file in the folder of `targetPath` (a failure shows at open()); `existing`
    /// says what commit() does with a target that exists. With `stream` the bytes go out through it
    /// instead, as AtomicFile does with one.
    explicit AtomicFileOutputStream(std::string targetPath, ExistingTarget existing = ExistingTarget::Replace,
                                    ByteStream stream = {});

    /// Closes the stream if it is open, then renames the temporary file over the target. Returns
    /// the first failure of opening, writing, closing or renaming, or {}; after a failure the
    /// temporary file is removed and the target is untouched.
    std::error_code commit();

    /// The path that commit() replaces.
    const std::string& targetPath() const { return _file.targetPath(); }

protected:
    std::error_code openSink() override;
    std::ptrdiff_t writeSink(const char* bytes, std::size_t length) override;
    std::error_code closeSink() override;

private:
    AtomicFile _file;
};

} // namespace plistable
