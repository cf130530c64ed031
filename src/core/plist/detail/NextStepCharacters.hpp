#pragma once

#include <optional>

namespace plistable::detail {

/// The character that byte `byte` (0x80-0xFF) stands for in the NeXTSTEP character set, as the
/// NEXTSTEP charmap of the C library's locale sources gives it; nothing for 0xFE and 0xFF, which
/// that table leaves unassigned, and for bytes below 0x80 (those are ASCII).
std::optional<char16_t> nextStepCharacter(unsigned byte) noexcept;

} // namespace plistable::detail
