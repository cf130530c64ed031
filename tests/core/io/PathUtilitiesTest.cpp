#include "core/io/PathUtilities.hpp"

#include <gtest/gtest.h>

using namespace plistable;

namespace {

struct Case {
    const char* path;
    const char* last;
    const char* folder;
    const char* extension;
    const char* withoutExtension;
};

TEST(PathUtilitiesTest, SplitsPathsAsTheConversionsNeed)
{
    const Case cases[] = {
        {"/a/data.csv", "data.csv", "/a", "csv", "/a/data"},
        {"/a/x.tar.csv", "x.tar.csv", "/a", "csv", "/a/x.tar"},
        {"/a/A.CSV", "A.CSV", "/a", "CSV", "/a/A"},
        {"/a/noext", "noext", "/a", "", "/a/noext"},
        {"/a.d/noext", "noext", "/a.d", "", "/a.d/noext"},
        {"/a/trailing/", "trailing", "/a", "", "/a/trailing"},
        {"/b.csv", "b.csv", "/", "csv", "/b"},
        {"b.csv", "b.csv", "", "csv", "b"},
        {"/", "/", "/", "", "/"},
        {"/a/name.", "name.", "/a", "", "/a/name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(lastPathComponent(c.path), c.last);
        EXPECT_EQ(stringByDeletingLastPathComponent(c.path), c.folder);
        EXPECT_EQ(pathExtension(c.path), c.extension);
        EXPECT_EQ(stringByDeletingPathExtension(c.path), c.withoutExtension);
    }
    EXPECT_EQ(stringByAppendingPathExtension("data", "plist"), "data.plist");
}

} // namespace
