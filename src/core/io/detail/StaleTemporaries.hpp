#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

namespace plistable::detail {

/// How long a temporary file must be unchanged before a sweep may remove it.
inline constexpr std::time_t staleTemporaryAge = 60;

/// True for the names AtomicFile gives its temporary files: ".NAME.plistable-XXXXXX".
bool isTemporaryName(std::string_view name);

/// Removes from `folder` (ending in "/") the temporary files of one target that writers which are
/// gone left behind: regular files named `prefix` + six characters, unchanged for `age` seconds,
/// that no writer holds locked (a writer locks its temporary file until it has renamed or removed
/// it). The folder is read only the first time this process asks for it (by its real path); later
/// calls go through what that scan found, so writing many files into one folder reads it once.
/// Returns how many files went. Safe to call from several threads.
std::size_t removeStaleTemporaries(const std::string& folder, std::string_view prefix,
                                   std::time_t age = staleTemporaryAge);

/// How many times this process has read a folder for stale temporary files (for tests).
std::size_t temporaryFolderScans();

} // namespace plistable::detail
