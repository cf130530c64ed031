#include "core/strings/LocalizationChecker.hpp"

#include "core/io/FileContents.hpp"
#include "core/strings/detail/FormatPlaceholders.hpp"
#include "core/strings/detail/LocalizationSources.hpp"
#include "core/strings/detail/StringCatalog.hpp"
#include "core/strings/detail/StringsDictFile.hpp"
#include "core/strings/detail/StringsFile.hpp"
#include "core/text/TextEncoding.hpp"

#include <algorithm>
#include <map>
#include <set>

namespace plistable {

using namespace detail;

namespace {

struct ReadStrings {
    const SourceFile* file;
    std::vector<StringsEntry> entries;
    std::map<std::string, const StringsEntry*> byKey; // the first entry of each key
};

std::string quotedKey(const std::string& key) { return "\"" + key + "\""; }

void checkDict(const SourceFile& file, const std::vector<StringsDictEntry>& entries,
               std::vector<LocalizationProblem>& findings)
{
    for (const StringsDictEntry& entry : entries) {
        if (!entry.value.isDictionary()) {
            findings.push_back({file.path, entry.line, quotedKey(entry.key) + " is no dictionary"});
            continue;
        }
        if (!entry.value.objectForKey(formatKeyName))
            findings.push_back({file.path, entry.line, quotedKey(entry.key) + " has no " + toUtf8Lossy(formatKeyName)});
        for (const auto& [name, variable] : entry.value.dictionary()) {
            if (!variable.isDictionary())
                continue;
            const PlistValue* rule = variable.objectForKey(specTypeKeyName);
            const bool plural = !rule || (rule->isString() && rule->string() == pluralRuleName);
            if (plural && !variable.objectForKey(u"other"))
                findings.push_back({file.path, entry.line, quotedKey(entry.key) + ": the variable \"" + toUtf8Lossy(name)
                                                               + "\" has no \"other\" form"});
        }
    }
}

} // namespace

LocalizationChecker::LocalizationChecker(std::string baseLanguage) : _baseLanguage(std::move(baseLanguage)) {}

std::vector<LocalizationProblem> LocalizationChecker::checkPaths(const std::vector<std::string>& paths) const
{
    std::vector<LocalizationProblem> findings;
    const std::vector<SourceTable> tables = findLocalizationSources(paths, findings);
    for (const SourceTable& table : tables) {
        std::vector<ReadStrings> strings;
        for (const SourceFile& file : table.files) {
            const FileContents contents = readFileContents(file.path);
            if (contents.error) {
                findings.push_back({file.path, 0, "cannot be read: " + contents.error.message()});
                continue;
            }
            if (file.kind == SourceKind::Catalog) {
                std::string error;
                std::uint64_t line = 0;
                if (!readCatalog(contents.bytes, error, line))
                    findings.push_back({file.path, line, error});
                continue;
            }
            if (file.kind == SourceKind::StringsDict) {
                std::string error;
                std::uint64_t line = 0;
                if (auto entries = readStringsDictFile(contents.bytes, error, line))
                    checkDict(file, *entries, findings);
                else
                    findings.push_back({file.path, line, error});
                continue;
            }
            OpenStepError error;
            std::optional<StringsFile> read = readStringsFile(contents.bytes, error);
            if (!read) {
                findings.push_back({file.path, error.line, error.message});
                continue;
            }
            ReadStrings checked{&file, std::move(read->entries), {}};
            for (const StringsEntry& entry : checked.entries) {
                const auto [it, first] = checked.byKey.try_emplace(entry.key, &entry);
                if (!first)
                    findings.push_back({file.path, entry.line, quotedKey(entry.key) + " repeats the entry of line "
                                                                   + std::to_string(it->second->line)});
                if (entry.value.empty())
                    findings.push_back({file.path, entry.line, quotedKey(entry.key) + " has an empty value"});
            }
            strings.push_back(std::move(checked));
        }
        if (strings.size() < 2)
            continue;
        // The base: the one asked for, else "en", else "Base", else the first language in sorted order.
        std::set<std::string> languages;
        for (const ReadStrings& file : strings)
            languages.insert(file.file->language);
        std::string base = _baseLanguage;
        if (base.empty())
            base = languages.count("en") ? "en" : languages.count("Base") ? "Base" : *languages.begin();
        const auto baseFile = std::find_if(strings.begin(), strings.end(),
                                           [&](const ReadStrings& file) { return file.file->language == base; });
        if (baseFile == strings.end())
            continue;
        for (const ReadStrings& other : strings) {
            if (&other == &*baseFile)
                continue;
            const std::string& language = other.file->language;
            for (const StringsEntry& entry : baseFile->entries)
                if (baseFile->byKey.at(entry.key) == &entry && !other.byKey.count(entry.key))
                    findings.push_back({baseFile->file->path, entry.line,
                                        quotedKey(entry.key) + " is missing in " + language + " (" + other.file->path + ")"});
            for (const StringsEntry& entry : other.entries) {
                if (other.byKey.at(entry.key) != &entry)
                    continue;
                const auto inBase = baseFile->byKey.find(entry.key);
                if (inBase == baseFile->byKey.end()) {
                    findings.push_back({other.file->path, entry.line,
                                        quotedKey(entry.key) + " is not in the base language " + base + " ("
                                            + baseFile->file->path + ")"});
                    continue;
                }
                const std::vector<FormatPlaceholder> theirs = formatPlaceholders(entry.value);
                const std::vector<FormatPlaceholder> ours = formatPlaceholders(inBase->second->value);
                if (!entry.value.empty() && !samePlaceholders(theirs, ours))
                    findings.push_back({other.file->path, entry.line,
                                        quotedKey(entry.key) + ": the placeholders " + describePlaceholders(theirs)
                                            + " differ from " + base + "'s " + describePlaceholders(ours)});
            }
        }
    }
    return findings;
}

} // namespace plistable
