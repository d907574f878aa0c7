#include "sources/SourceTable.h"

#include "sources/LocalSource.h"
#include "sources/ZipSource.h"

#include <string_view>

namespace tarnel {

const std::shared_ptr<FileSource>& SourceTable::For(const PanePlace& place) const
{
    return std::string_view(place.Source()) == kZipSourceName ? zip : local;
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
        return made;
    }();
    return table;
}

} // namespace tarnel
