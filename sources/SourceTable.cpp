#include "sources/SourceTable.h"

#include "sources/ArchiveSource.h"
#include "sources/LocalSource.h"
#include "sources/SearchSource.h"
#include "sources/SftpSource.h"
#include "sources/ZipSource.h"

#include <string_view>

namespace tarnel {

namespace {

// What a place whose source this table lacks reads through (a saved place
// of a kind this build or this window has no source for).
class MissingSource final : public FileSource {
public:
    const char* Name() const override { return "missing"; }
    void List(const PanePlace& place, ListSink& sink, const CancelToken&) const override
    {
        sink.Problem("There is nothing to read this place with: " + place.Text());
    }
    Capabilities Can(const PanePlace&) const override { return {}; }
};

} // namespace

const std::shared_ptr<FileSource>& SourceTable::For(const PanePlace& place) const
{
    const std::string_view name = place.Source();
    if (name == kZipSourceName)
        return zip;
    if (name == kLocalSourceName)
        return local;
    if (const auto found = named.find(name); found != named.end() && found->second)
        return found->second;
    static const std::shared_ptr<FileSource> missing = std::make_shared<MissingSource>();
    return missing;
}

const FileSource* SourceTable::OperationRunner(int code, const PanePlace& from, const PanePlace& to) const
{
    for (const PanePlace* side : {&from, &to}) {
        const FileSource& source = *For(*side);
        if (source.RunsOperation(code, from, to))
            return &source;
    }
    return nullptr;
}

std::shared_ptr<const SourceTable> DefaultSources()
{
    static const std::shared_ptr<const SourceTable> table = [] {
        auto made = std::make_shared<SourceTable>();
        made->local = std::make_shared<LocalSource>();
        made->zip = std::make_shared<ZipSource>();
        made->named[kSearchSourceName] = std::make_shared<SearchSource>(StartFind);
        made->named[kSftpSourceName] = std::make_shared<SftpSource>();
        made->named[kArchiveSourceName] = std::make_shared<ArchiveSource>();
        return made;
    }();
    return table;
}

} // namespace tarnel
