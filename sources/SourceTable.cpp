#include "sources/SourceTable.h"

#include "sources/LocalSource.h"
#include "sources/ZipSource.h"

#include <string_view>

namespace tarnel {

const std::shared_ptr<FileSource>& SourceTable::For(const PanePlace& place) const
{
    return std::string_view(SourceNameOf(place)) == kZipSourceName ? zip : local;
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
