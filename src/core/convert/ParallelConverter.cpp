#include "core/convert/ParallelConverter.hpp"

#include "core/Log.hpp"
#include "core/Settings.hpp"
#include "core/UserDefaults.hpp"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <numeric>
#include <thread>
#include <unordered_map>

namespace plistable {
namespace {

// A name for the file at `path` that two spellings of one file share (as far as the file system
// tells without following the file itself into existence).
std::string fileKey(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error)
        return path;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(absolute, error);
    return (error ? absolute.lexically_normal() : canonical).string();
}

// Groups of paths (indexes in order) that touch a common file; the groups in the order of their
// first path.
std::vector<std::vector<std::size_t>> dependentGroups(const std::vector<std::string>& paths,
                                                      const std::string& folder, const FileConverter& planner)
{
    std::vector<std::size_t> parent(paths.size());
    std::iota(parent.begin(), parent.end(), std::size_t{0});
    auto root = [&](std::size_t i) {
        while (parent[i] != i)
            i = parent[i] = parent[parent[i]];
        return i;
    };
    // Every file a path reads or writes, and the last path that touched it: sharing any file in
    // either role puts two paths in one group (two readers of one file wait needlessly; that is all).
    std::unordered_map<std::string, std::size_t> lastUser;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::optional<std::string> output = planner.plannedOutputPath(paths[i], folder);
        if (!output)
            continue; // passed over: touches nothing
        for (const std::string& file : {fileKey(paths[i]), fileKey(*output)}) {
            const auto [at, added] = lastUser.try_emplace(file, i);
            if (!added) {
                parent[root(i)] = root(at->second);
                at->second = i;
            }
        }
    }
    std::vector<std::vector<std::size_t>> groups;
    std::unordered_map<std::size_t, std::size_t> groupOfRoot;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const auto [at, added] = groupOfRoot.try_emplace(root(i), groups.size());
        if (added)
            groups.emplace_back();
        groups[at->second].push_back(i);
    }
    return groups;
}

} // namespace

ParallelConverter::ParallelConverter(UserDefaults& defaults, ConversionOptions options)
    : _defaults(defaults), _options(std::move(options))
{
}

std::vector<ConversionReport> ParallelConverter::convertFiles(const std::vector<std::string>& paths,
                                                              const std::string& folder, unsigned jobs)
{
    if (jobs == 0)
        jobs = std::max(1u, std::thread::hardware_concurrency());
    if (jobs == 1 || paths.size() < 2) {
        FileConverter converter(_defaults, _options);
        return converter.convertDroppedFiles(paths, folder);
    }

    // The setting is read here, once, so that the threads share no store.
    ConversionOptions options = _options;
    FileConverter planner(_defaults, options);
    if (!options.header)
        options.header = _defaults.boolForKey(std::string(settings::headerKey));
    const std::vector<std::vector<std::size_t>> groups = dependentGroups(paths, folder, planner);
    jobs = static_cast<unsigned>(std::min<std::size_t>(jobs, groups.size()));

    std::vector<ConversionReport> reports(paths.size());
    std::vector<std::vector<std::string>> logs(paths.size());
    std::vector<FileConverter> converters;
    converters.reserve(jobs);
    for (unsigned j = 0; j < jobs; ++j)
        converters.emplace_back(_defaults, options);
    std::atomic<std::size_t> nextGroup{0};
    auto work = [&](FileConverter& converter) {
        for (std::size_t g; (g = nextGroup.fetch_add(1)) < groups.size();) {
            for (const std::size_t i : groups[g]) {
                std::vector<std::string>* previous = captureLogOnThisThread(&logs[i]);
                reports[i] = std::move(converter.convertDroppedFiles({paths[i]}, folder).front());
                captureLogOnThisThread(previous);
            }
        }
    };
    {
        std::vector<std::jthread> threads;
        for (unsigned j = 1; j < jobs; ++j)
            threads.emplace_back(work, std::ref(converters[j]));
        work(converters[0]);
    }
    for (const std::vector<std::string>& messages : logs)
        for (const std::string& message : messages)
            log(message);
    return reports;
}

} // namespace plistable
