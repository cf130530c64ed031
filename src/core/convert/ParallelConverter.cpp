#include "core/convert/ParallelConverter.hpp"

#include "core/Log.hpp"
#include "core/Settings.hpp"
#include "core/UserDefaults.hpp"
#include "core/io/PathUtilities.hpp"
#include "core/io/detail/QuietThread.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <numeric>
#include <thread>
#include <unordered_map>

namespace plistable {
namespace {

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
        for (const std::string& file : {resolvedPath(paths[i]), resolvedPath(*output)}) {
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

// Sends the log messages of this thread into `into` while it lives, then where they went before.
class LogCapture {
public:
    explicit LogCapture(std::vector<std::string>* into) : _previous(captureLogOnThisThread(into)) {}
    ~LogCapture() { captureLogOnThisThread(_previous); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

private:
    std::vector<std::string>* _previous;
};

bool cancelRequested(const ConversionOptions& options)
{
    return options.run.cancel && options.run.cancel->load();
}

// `options` whose progress also tells the progress hook, with the index `*current` holds when it is called.
ConversionOptions withIndexedProgress(ConversionOptions options, const ParallelHooks& hooks, const std::size_t* current)
{
    if (hooks.progress) {
        options.run.progress = [given = std::move(options.run.progress), &hooks, current](std::uint64_t done,
                                                                                           std::uint64_t total) {
            if (given)
                given(done, total);
            hooks.progress(*current, done, total);
        };
    }
    return options;
}

} // namespace

ParallelConverter::ParallelConverter(UserDefaults& defaults, ConversionOptions options)
    : _defaults(defaults), _options(std::move(options))
{
}

std::vector<ConversionReport> ParallelConverter::convertFiles(const std::vector<std::string>& paths,
                                                              const std::string& folder, unsigned jobs,
                                                              const ParallelHooks& hooks)
{
    // One file at a time through the dispatch is what convertDroppedFiles() does with them all,
    // and lets each report be handed over as soon as its file is done.
    auto oneAfterAnother = [&] {
        std::size_t current = 0;
        FileConverter converter(_defaults, withIndexedProgress(_options, hooks, &current));
        std::vector<ConversionReport> reports;
        reports.reserve(paths.size());
        for (; current < paths.size(); ++current) {
            if (hooks.started && !cancelRequested(_options))
                hooks.started(current);
            reports.push_back(std::move(converter.convertDroppedFiles({paths[current]}, folder).front()));
            if (hooks.finished)
                hooks.finished(current, reports.back());
        }
        return reports;
    };
    if (jobs == 0)
        jobs = std::max(1u, std::thread::hardware_concurrency());
    if (jobs == 1 || paths.size() < 2)
        return oneAfterAnother();

    // The setting is read here, once, so that the threads share no store.
    ConversionOptions options = _options;
    FileConverter planner(_defaults, options);
    if (!options.shape.header)
        options.shape.header = _defaults.boolForKey(std::string(settings::headerKey));
    const std::vector<std::vector<std::size_t>> groups = dependentGroups(paths, folder, planner);
    jobs = static_cast<unsigned>(std::min<std::size_t>(jobs, groups.size()));

    std::vector<ConversionReport> reports(paths.size());
    std::vector<std::vector<std::string>> logs(paths.size());
    // Each thread's file, for its progress calls; written and read by that thread only.
    std::vector<std::size_t> current(jobs, 0);
    std::vector<FileConverter> converters;
    converters.reserve(jobs);
    for (unsigned j = 0; j < jobs; ++j)
        converters.emplace_back(_defaults, withIndexedProgress(options, hooks, &current[j]));

    // Guarded by `mutex`: which files are done, how many threads still work, the first exception.
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<char> done(paths.size(), 0);
    unsigned working = jobs;
    std::exception_ptr failure;
    std::atomic<bool> abandon{false};
    std::atomic<std::size_t> nextGroup{0};
    auto work = [&](unsigned j) {
        try {
            for (std::size_t g; !abandon.load() && (g = nextGroup.fetch_add(1)) < groups.size();) {
                for (const std::size_t i : groups[g]) {
                    current[j] = i;
                    if (hooks.started && !cancelRequested(options))
                        hooks.started(i);
                    {
                        const LogCapture capture(&logs[i]);
                        reports[i] = std::move(converters[j].convertDroppedFiles({paths[i]}, folder).front());
                    }
                    const std::lock_guard lock(mutex);
                    done[i] = 1;
                    changed.notify_all();
                }
            }
        } catch (...) {
            // The rest of this group is never done: the hand-over stops before it.
            abandon.store(true);
            const std::lock_guard lock(mutex);
            if (!failure)
                failure = std::current_exception();
        }
        const std::lock_guard lock(mutex);
        --working;
        changed.notify_all();
    };

    std::vector<std::thread> threads;
    threads.reserve(jobs);
    struct JoinAll {
        std::vector<std::thread>& threads;
        ~JoinAll()
        {
            for (std::thread& thread : threads)
                thread.join();
        }
    } joinAll{threads};
    for (unsigned j = 0; j < jobs; ++j) {
        std::optional<std::thread> started = detail::startQuietThread([&work, j] { work(j); });
        if (!started) {
            // The system gives no more threads: those started share the groups; with none, the
            // files are converted on this thread, one after another.
            const std::lock_guard lock(mutex);
            working -= jobs - j;
            break;
        }
        threads.push_back(std::move(*started));
    }
    if (threads.empty())
        return oneAfterAnother();
    try {
        // This thread hands the reports over in order, each once its file and all before it are done.
        for (std::size_t i = 0; i < paths.size(); ++i) {
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return done[i] != 0 || working == 0; });
                if (done[i] == 0)
                    break; // a thread failed before this file
            }
            for (const std::string& message : logs[i])
                log(message);
            if (hooks.finished)
                hooks.finished(i, reports[i]);
        }
    } catch (...) {
        // From a hook: the threads stop after their current file.
        abandon.store(true);
        throw;
    }
    for (std::thread& thread : threads)
        thread.join();
    threads.clear();
    if (failure)
        std::rethrow_exception(failure);
    return reports;
}

} // namespace plistable
