#pragma once

#include <string>
#include <string_view>

namespace plistable {

// Path operations on byte strings (file names need not be UTF-8). A path's components are
// separated by "/"; trailing slashes do not start an empty last component.

/// The last component: "/a/b.csv" gives "b.csv"; "/" gives "/".
std::string lastPathComponent(std::string_view path);

/// The path without its last component: "/a/b.csv" gives "/a"; "b.csv" gives ""; "/b" gives "/".
std::string stringByDeletingLastPathComponent(std::string_view path);

/// The text after the last "." of the last component, without the "."; empty when there is none.
/// "x.tar.csv" gives "csv"; "A.CSV" gives "CSV" (callers compare exactly and case-sensitively).
std::string pathExtension(std::string_view path);

/// The path without the last "." of its last component and what follows it.
std::string stringByDeletingPathExtension(std::string_view path);

/// `path` followed by "." and `extension`.
std::string stringByAppendingPathExtension(std::string_view path, std::string_view extension);

// Queries of the file system (the functions above never look at it).

/// `path` made absolute, with every link, "." and ".." resolved as far as the folders exist; `path`
/// itself when the current folder cannot be told.
std::string resolvedPath(const std::string& path);

/// True when `a` and `b` name one file: both exist and are the same device and inode once links are
/// followed (hard links included), or both resolve to the same absolute path (folders' links, "."
/// and ".." resolved as far as they exist).
bool sameFile(const std::string& a, const std::string& b);

} // namespace plistable
