#include "core/io/PathUtilities.hpp"

#include <filesystem>
#include <sys/stat.h>

namespace plistable {
namespace {

// The path without trailing slashes, keeping a lone "/".
std::string_view trimmed(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

// Offset of the last component within trimmed(path).
std::size_t lastComponentStart(std::string_view path)
{
    if (path == "/")
        return 0;
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

// Offset of the extension's "." within trimmed(path), or npos.
std::size_t extensionDot(std::string_view path)
{
    const std::size_t start = lastComponentStart(path);
    const std::size_t dot = path.rfind('.');
    return dot == std::string_view::npos || dot < start ? std::string_view::npos : dot;
}

} // namespace

std::string lastPathComponent(std::string_view path)
{
    path = trimmed(path);
    return std::string(path.substr(lastComponentStart(path)));
}

std::string stringByDeletingLastPathComponent(std::string_view path)
{
    path = trimmed(path);
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos || path == "/")
        return path == "/" ? "/" : "";
    return slash == 0 ? "/" : std::string(path.substr(0, slash));
}

std::string pathExtension(std::string_view path)
{
    path = trimmed(path);
    const std::size_t dot = extensionDot(path);
    return dot == std::string_view::npos ? std::string() : std::string(path.substr(dot + 1));
}

std::string stringByDeletingPathExtension(std::string_view path)
{
    path = trimmed(path);
    const std::size_t dot = extensionDot(path);
    return std::string(dot == std::string_view::npos ? path : path.substr(0, dot));
}

std::string stringByAppendingPathExtension(std::string_view path, std::string_view extension)
{
    std::string result(path);
    result += '.';
    result += extension;
    return result;
}

std::string resolvedPath(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error)
        return path;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(absolute, error);
    return (error ? absolute.lexically_normal() : canonical).string();
}

bool sameFile(const std::string& a, const std::string& b)
{
    struct stat first {};
    struct stat second {};
    if (::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0)
        return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
    return resolvedPath(a) == resolvedPath(b);
}

} // namespace plistable
