#include "app/FindCommand.h"

#include "tools/model/FindQuery.h"

#include <condition_variable>
#include <mutex>

namespace tarnel {

namespace {

constexpr const char* kUsage =
    "usage: tarnel --find DIR... [--name PATTERNS] [--content TEXT | --regex RE] [--ignore-case]\n"
    "  PATTERNS  wildcards separated by \";\", a leading \"!\" leaves out what it matches\n";

bool ParseOptions(const std::vector<std::string>& args, FindQuery& query, std::ostream& err)
{
    bool inFolders = false, textGiven = false;
    query.caseSensitive = true;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--find") {
            inFolders = true;
            continue;
        }
        if (a == "--name" && hasValue) {
            query.namePatterns = args[++i];
        } else if ((a == "--content" || a == "--regex") && hasValue && !textGiven) {
            textGiven = true;
            query.text = args[++i];
            query.textKind = a == "--regex" ? FindQuery::TextKind::Regex : FindQuery::TextKind::Plain;
        } else if (a == "--ignore-case") {
            query.caseSensitive = false;
        } else if (inFolders && a.rfind("--", 0) != 0) {
            query.folders.push_back(a);
            continue;
        } else {
            err << "tarnel: unexpected argument '" << a << "'\n" << kUsage;
            return false;
        }
        inFolders = false;
    }
    if (query.folders.empty()) {
        err << "tarnel: --find needs a directory\n" << kUsage;
        return false;
    }
    return true;
}

// Written from the find's own thread as the hits come; the caller waits.
class PrintingSink : public FindSink {
public:
    PrintingSink(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}
    void Found(std::vector<FindHit>&& hits) override
    {
        std::string text;
        for (const FindHit& h : hits) {
            if (!h.archive.empty())
                (text += h.archive) += '/';
            text += h.directory;
            text += h.name;
            text += '\n';
        }
        std::lock_guard lock(mutex_);
        out_.write(text.data(), std::streamsize(text.size()));
        out_.flush();
    }
    void Note(const std::string& text) override
    {
        std::lock_guard lock(mutex_);
        err_ << "tarnel: " << text << '\n';
    }
    void Finished(bool) override
    {
        std::lock_guard lock(mutex_);
        done_ = true;
        cv_.notify_all();
    }
    void Wait()
    {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return done_; });
    }

private:
    std::ostream& out_;
    std::ostream& err_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
};

} // namespace

int RunFindCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    FindQuery query;
    if (!ParseOptions(args, query, err))
        return 2;
    query.sizesAndTimes = false; // paths alone are printed
    if (const std::string problem = FindQueryProblem(query); !problem.empty()) {
        err << "tarnel: " << problem << '\n';
        return 2;
    }
    auto sink = std::make_shared<PrintingSink>(out, err);
    const auto job = StartFind(query, sink);
    sink->Wait();
    return out ? 0 : 1;
}

} // namespace tarnel
