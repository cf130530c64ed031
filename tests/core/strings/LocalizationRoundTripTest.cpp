#include "core/strings/LocalizationExporter.hpp"
#include "core/strings/LocalizationImporter.hpp"

#include "core/io/FileContents.hpp"
#include "support/TestSupport.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace plistable {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

void writeFiles(const std::string& root, const Files& files)
{
    for (const auto& [name, bytes] : files) {
        const fs::path path = fs::path(root) / name;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
}

std::string readBytes(const fs::path& path)
{
    return readFileContents(path.string()).bytes;
}

std::string utf16le(std::string_view utf8)
{
    std::string bytes = "\xFF\xFE";
    for (const char16_t unit : test::u(utf8)) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

std::string plural(std::string_view indent, std::initializer_list<std::pair<std::string_view, std::string_view>> forms)
{
    std::string text;
    for (const auto& [form, value] : forms)
        text += std::string(indent) + "\t<key>" + std::string(form) + "</key>\n" + std::string(indent) + "\t<string>"
                + std::string(value) + "</string>\n";
    return text;
}

std::string stringsDict(std::string_view format, std::string_view files, std::string_view folders)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<dict>\n\t<key>%d files in %d folders</key>\n\t<dict>\n"
           "\t\t<key>NSStringLocalizedFormatKey</key>\n\t\t<string>" + std::string(format) + "</string>\n"
           "\t\t<key>files</key>\n\t\t<dict>\n\t\t\t<key>NSStringFormatSpecTypeKey</key>\n"
           "\t\t\t<string>NSStringPluralRuleType</string>\n\t\t\t<key>NSStringFormatValueTypeKey</key>\n"
           "\t\t\t<string>d</string>\n" + std::string(files) + "\t\t</dict>\n"
           "\t\t<key>folders</key>\n\t\t<dict>\n\t\t\t<key>NSStringFormatSpecTypeKey</key>\n"
           "\t\t\t<string>NSStringPluralRuleType</string>\n\t\t\t<key>NSStringFormatValueTypeKey</key>\n"
           "\t\t\t<string>d</string>\n" + std::string(folders) + "\t\t</dict>\n\t</dict>\n</dict>\n</plist>\n";
}

// A small app of three languages: strings files with comments (Japanese in UTF-16), a plural
// dictionary of two variables, and a catalog with plurals, device variations and substitutions.
Files fixtureProject()
{
    const std::string catalog = R"({
  "sourceLanguage" : "en",
  "strings" : {
    "%lld items" : {
      "comment" : "Count of items in the list",
      "extractionState" : "manual",
      "localizations" : {
        "en" : {
          "variations" : {
            "plural" : {
              "one" : {
                "stringUnit" : {
                  "state" : "translated",
                  "value" : "%lld item"
                }
              },
              "other" : {
                "stringUnit" : {
                  "state" : "translated",
                  "value" : "%lld items"
                }
              }
            }
          }
        },
        "fr" : {
          "variations" : {
            "plural" : {
              "one" : {
                "stringUnit" : {
                  "state" : "translated",
                  "value" : "%lld element"
                }
              },
              "other" : {
                "stringUnit" : {
                  "state" : "translated",
                  "value" : "%lld elements"
                }
              }
            }
          }
        },
        "ja" : {
          "variations" : {
            "plural" : {
              "other" : {
                "stringUnit" : {
                  "state" : "translated",
                  "value" : "%lld 個の項目"
                }
              }
            }
          }
        }
      }
    },
    "%lld photos in %lld albums" : {
      "extractionState" : "manual",
      "localizations" : {
        "en" : {
          "stringUnit" : {
            "state" : "translated",
            "value" : "%#@photos@ in %#@albums@"
          },
          "substitutions" : {
            "albums" : {
              "argNum" : 2,
              "formatSpecifier" : "lld",
              "variations" : {
                "plural" : {
                  "one" : {
                    "stringUnit" : {
                      "state" : "translated",
                      "value" : "%arg album"
                    }
                  },
                  "other" : {
                    "stringUnit" : {
                      "state" : "translated",
                      "value" : "%arg albums"
                    }
                  }
                }
              }
            },
            "photos" : {
              "argNum" : 1,
              "formatSpecifier" : "lld",
              "variations" : {
                "plural" : {
                  "one" : {
                    "stringUnit" : {
                      "state" : "translated",
                      "value" : "%arg photo"
                    }
                  },
                  "other" : {
                    "stringUnit" : {
                      "state" : "translated",
                      "value" : "%arg photos"
                    }
                  }
                }
              }
            }
          }
        }
      }
    },
    "Level 2" : {
      "extractionState" : "manual",
      "localizations" : {
        "en" : {
          "stringUnit" : {
            "state" : "translated",
            "value" : "Level two"
          }
        }
      }
    },
    "level 16" : {
      "extractionState" : "manual"
    },
    "Welcome" : {
      "extractionState" : "manual",
      "localizations" : {
        "en" : {
          "variations" : {
            "device" : {
              "iphone" : {
                "stringUnit" : {
                  "state" : "translated",
                  "value" : "Welcome to your iPhone"
                }
              },
              "mac" : {
                "variations" : {
                  "plural" : {
                    "one" : {
                      "stringUnit" : {
                        "state" : "translated",
                        "value" : "Welcome, %lld Mac"
                      }
                    },
                    "other" : {
                      "stringUnit" : {
                        "state" : "translated",
                        "value" : "Welcome, %lld Macs"
                      }
                    }
                  }
                }
              }
            }
          }
        },
        "ja" : {
          "stringUnit" : {
            "state" : "translated",
            "value" : "ようこそ～髙橋さん①"
          }
        }
      }
    }
  },
  "version" : "1.0"
})";
    return {
        {"en.lproj/Localizable.strings",
         "/* Title of the main window */\n\"window.title\" = \"Stations\";\n\n"
         "/* %@ is a file name, %d a count */\n\"saved\" = \"Saved %@ (%d)\";\n\n"
         "\"quoted\" = \"Say \\\"hi\\\"\\nand go\";\n\n"},
        {"ja.lproj/Localizable.strings",
         utf16le("/* Title of the main window */\n\"window.title\" = \"駅一覧～①\";\n\n"
                 "/* %@ is a file name, %d a count */\n\"saved\" = \"%@ を保存しました（%d 件）\";\n\n"
                 "\"quoted\" = \"「こんにちは」\\nと言う\";\n\n")},
        {"fr.lproj/Localizable.strings",
         "/* Title of the main window */\n\"window.title\" = \"Gares\";\n\n"
         "/* %@ is a file name, %d a count */\n\"saved\" = \"%@ enregistre (%d)\";\n\n"},
        {"en.lproj/Localizable.stringsdict",
         stringsDict("%#@files@ in %#@folders@", plural("\t\t", {{"one", "one file"}, {"other", "%d files"}}),
                     plural("\t\t", {{"one", "one folder"}, {"other", "%d folders"}}))},
        {"ja.lproj/Localizable.stringsdict",
         stringsDict("%#@folders@ の %#@files@", plural("\t\t", {{"other", "%d 個のファイル"}}),
                     plural("\t\t", {{"other", "%d 個のフォルダ"}}))},
        {"Catalog.xcstrings", catalog},
    };
}

struct Mode {
    std::string_view name;
    LocalizationCsvWriting writing;
    LocalizationCsvReading reading;
};

class LocalizationRoundTripTest : public ::testing::TestWithParam<Mode> {};

// The project goes to a table and back into an empty folder (holding only an empty UTF-16 file and
// an empty catalog where those must go), and every file comes back byte for byte.
TEST_P(LocalizationRoundTripTest, ImportsWhatItExportedByteForByte)
{
    test::TempDir project;
    const Files files = fixtureProject();
    writeFiles(project.path(), files);
    const LocalizationExport exported = LocalizationExporter().exportPaths({project.path()});
    ASSERT_TRUE(exported.complete()) << exported.problems.front().description();
    EXPECT_EQ(exported.table.languages, (std::vector<std::string>{"en", "fr", "ja"}));

    LocalizationProblem problem;
    const std::optional<std::string> csv = exported.table.csvBytes(GetParam().writing, &problem);
    ASSERT_TRUE(csv) << problem.description();
    const std::optional<LocalizationTable> table =
        LocalizationTable::fromCsvBytes(*csv, "table.csv", GetParam().reading, problem);
    ASSERT_TRUE(table) << problem.description();
    EXPECT_EQ(table->rows, exported.table.rows);

    test::TempDir output;
    writeFiles(output.path(), {{"ja.lproj/Localizable.strings", "\xFF\xFE"},
                               {"Catalog.xcstrings", "{\n  \"sourceLanguage\" : \"en\",\n  \"strings\" : {\n\n  },\n"
                                                         "  \"version\" : \"1.0\"\n}"}});
    const LocalizationImportReport report =
        LocalizationImporter({output.path(), StringsFileEncoding::AsFound, false, false}).importTable(*table, "table.csv");
    EXPECT_TRUE(report.complete());
    EXPECT_EQ(report.notes, (std::vector<std::string>{"fr: 6 keys have no translation",
                                                      "ja: 3 keys have no translation"}));
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        EXPECT_EQ(readBytes(fs::path(output.path()) / name), bytes);
    }
    std::size_t written = 0;
    for (const auto& entry : fs::recursive_directory_iterator(output.path()))
        written += entry.is_regular_file();
    EXPECT_EQ(written, files.size());

    // Imported again over the project itself, nothing changes and nothing is rewritten.
    const LocalizationImportReport again =
        LocalizationImporter({project.path(), StringsFileEncoding::AsFound, false, false}).importTable(*table, "table.csv");
    EXPECT_TRUE(again.written.empty());
    EXPECT_EQ(again.unchanged.size(), files.size());
}

INSTANTIATE_TEST_SUITE_P(Dialects, LocalizationRoundTripTest,
                         ::testing::Values(Mode{"Plain", {}, {}},
                                           Mode{"Excel", {u',', true, true, {}}, {{}, u',', true}},
                                           Mode{"Semicolons", {u';', false, false, {}}, {{}, u';', false}},
                                           Mode{"ExcelCp932", {u',', true, true, "cp932"}, {{}, u',', true}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LocalizationExporterTest, TellsWhetherAPathHoldsLocalizationFiles)
{
    test::TempDir dir;
    writeFiles(dir.path(), {{"app/sub/fr.lproj/Main.strings", "\"a\" = \"b\";\n"},
                            {"other/notes.strings", ""}, // not in a LANG.lproj folder
                            {"other/table.csv", ""},
                            {"cat/.hidden/x.xcstrings", "{}"},
                            {"cat2/Localizable.xcstrings", "{}"}});
    struct Case {
        std::string name;
        bool holds;
    };
    for (const Case& c : {Case{"app", true}, Case{"app/sub/fr.lproj/Main.strings", true}, Case{"other", false},
                          Case{"cat", false}, Case{"cat2", true}, Case{"missing", false}}) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LocalizationExporter::holdsLocalizationFiles(dir.file(c.name)), c.holds);
    }
}

TEST(LocalizationTableTest, ExportsRowsForEveryFormAndVariation)
{
    test::TempDir project;
    writeFiles(project.path(), fixtureProject());
    const LocalizationExport exported = LocalizationExporter().exportPaths({project.path()});
    std::vector<std::string> lines;
    for (const LocalizationRow& row : exported.table.rows)
        lines.push_back(row.table + "|" + row.key + "|" + row.variant + "|" + row.values[0] + "|" + row.values[2]);
    const std::vector<std::string> expected = {
        "Catalog|%lld items|plural.one|%lld item|",
        "Catalog|%lld items|plural.other|%lld items|%lld 個の項目",
        "Catalog|%lld photos in %lld albums||%#@photos@ in %#@albums@|",
        "Catalog|%lld photos in %lld albums|substitutions.albums.argNum|2|",
        "Catalog|%lld photos in %lld albums|substitutions.albums.formatSpecifier|lld|",
        "Catalog|%lld photos in %lld albums|substitutions.albums.plural.one|%arg album|",
        "Catalog|%lld photos in %lld albums|substitutions.albums.plural.other|%arg albums|",
        "Catalog|%lld photos in %lld albums|substitutions.photos.argNum|1|",
        "Catalog|%lld photos in %lld albums|substitutions.photos.formatSpecifier|lld|",
        "Catalog|%lld photos in %lld albums|substitutions.photos.plural.one|%arg photo|",
        "Catalog|%lld photos in %lld albums|substitutions.photos.plural.other|%arg photos|",
        "Catalog|Level 2||Level two|",
        "Catalog|level 16||level 16|", // no unit in the source language: the key itself
        "Catalog|Welcome|device.iphone|Welcome to your iPhone|",
        "Catalog|Welcome|device.mac.plural.one|Welcome, %lld Mac|",
        "Catalog|Welcome|device.mac.plural.other|Welcome, %lld Macs|",
        "Catalog|Welcome|||ようこそ～髙橋さん①", // ja only: after the base's rows of the key
        "Localizable|window.title||Stations|駅一覧～①",
        "Localizable|saved||Saved %@ (%d)|%@ を保存しました（%d 件）",
        "Localizable|quoted||Say \"hi\"\nand go|「こんにちは」\nと言う",
        "Localizable|%d files in %d folders||%#@files@ in %#@folders@|%#@folders@ の %#@files@",
        "Localizable|%d files in %d folders|files.type|d|d",
        "Localizable|%d files in %d folders|files.one|one file|",
        "Localizable|%d files in %d folders|files.other|%d files|%d 個のファイル",
        "Localizable|%d files in %d folders|folders.type|d|d",
        "Localizable|%d files in %d folders|folders.one|one folder|",
        "Localizable|%d files in %d folders|folders.other|%d folders|%d 個のフォルダ",
    };
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(exported.table.rows[0].comment, "Count of items in the list");
    EXPECT_EQ(exported.table.rows[17].comment, "Title of the main window");
}

// Faults of the table side: each is reported with its line and nothing is written.
TEST(LocalizationTableTest, RefusesTablesItCannotUse)
{
    struct Case {
        std::string_view name, csv;
        std::uint64_t line;
        std::string_view message;
    };
    const Case cases[] = {
        {"no header", "a,b,c\n", 1, "not a localization table"},
        {"repeated language", "table,key,variant,comment,en,en\n", 1, "repeats"},
        {"malformed CSV", "table,key,variant,comment,en\nT,k,,,\"open\n", 2, "never closed"},
        {"row without table", "table,key,variant,comment,en\n,k,,,v\n", 2, "names no table"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LocalizationProblem problem;
        EXPECT_FALSE(LocalizationTable::fromCsvBytes(c.csv, "t.csv", {}, problem));
        EXPECT_EQ(problem.line, c.line);
        EXPECT_NE(problem.message.find(c.message), std::string::npos) << problem.message;
    }
    LocalizationTable table{{"en", "fr"}, {{"T", "k", "", "", {"Déjà vu", "x"}}}};
    LocalizationProblem problem;
    EXPECT_FALSE(table.csvBytes({u',', false, false, "cp932"}, &problem));
    EXPECT_EQ(problem.line, 2u);
}

TEST(LocalizationImporterTest, UpdatesOnlyWhatChangedAndGuardsTheOutputFolder)
{
    test::TempDir project;
    writeFiles(project.path(), fixtureProject());
    LocalizationTable table = LocalizationExporter().exportPaths({project.path()}).table;
    table.rows[1].values[2] = "%lld 件";        // the catalog's ja plural
    table.rows[18].values[1] = "%@ enregistre"; // fr strings file
    const std::string catalogBefore = readBytes(fs::path(project.path()) / "Catalog.xcstrings");
    const LocalizationImportReport report =
        LocalizationImporter({project.path(), StringsFileEncoding::AsFound, false, false}).importTable(table, "t.csv");
    EXPECT_TRUE(report.complete());
    ASSERT_EQ(report.written.size(), 2u) << ::testing::PrintToString(report.written);
    const std::string catalog = readBytes(fs::path(project.path()) / "Catalog.xcstrings");
    std::string expected = catalogBefore;
    expected.replace(expected.find("%lld 個の項目"), std::string("%lld 個の項目").size(), "%lld 件");
    EXPECT_EQ(catalog, expected);

    // -n: the files that exist fail and stay.
    const LocalizationImportReport refused =
        LocalizationImporter({project.path(), StringsFileEncoding::AsFound, true, false}).importTable(table, "t.csv");
    EXPECT_FALSE(refused.complete());
    EXPECT_TRUE(refused.written.empty());
    EXPECT_EQ(refused.problems.front().message, "exists, not replaced");

    // Names that would leave the output folder are refused.
    for (const LocalizationTable& bad : {LocalizationTable{{"en"}, {{"../escape", "k", "", "", {"v"}}}},
                                         LocalizationTable{{"../en"}, {{"T", "k", "", "", {"v"}}}}}) {
        test::TempDir empty;
        const LocalizationImportReport result =
            LocalizationImporter({empty.file("out"), StringsFileEncoding::AsFound, false, false}).importTable(bad, "t.csv");
        EXPECT_FALSE(result.complete());
        EXPECT_TRUE(result.written.empty());
        EXPECT_FALSE(fs::exists(fs::path(empty.path()) / "escape"));
    }
}

} // namespace
} // namespace plistable
