/* libplist's parse of an XML or binary property list, alone: reads FILE, builds the tree, frees it. The
   peer that bench/compare-convert.sh times for property list reading (plistutil also writes the result). */
#include <plist/plist.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: libplist-parse FILE\n");
        return 2;
    }
    FILE* file = fopen(argv[1], "rb");
    if (!file)
        return 1;
    fseek(file, 0, SEEK_END);
    const long size = ftell(file);
    fseek(file, 0, SEEK_SET);
    char* bytes = malloc((size_t)size);
    if (!bytes || fread(bytes, 1, (size_t)size, file) != (size_t)size)
        return 1;
    fclose(file);
    plist_t tree = NULL;
    plist_from_memory(bytes, (uint32_t)size, &tree);
    if (!tree)
        return 1;
    plist_free(tree);
    free(bytes);
    return 0;
}
