#pragma once
// A pane that shows the inside of an archive: its members at the pane's
// folder, and the folders their stored paths imply, with summed sizes.
#include <string>

namespace tarnel {

struct TDirData;
class ExtensionList;
class TZipMaster;

// Reads the archive (the pane's Path without its trailing "/") through zip
// and fills the pane's listing for its ZipPath: "..", the folders below it,
// and the files that match filter. Returns the driver's error text when the
// archive is damaged; the entries read before the damage are listed.
std::string ListArchivePane(TDirData& pane, const std::string& filter, ExtensionList& patterns, TZipMaster& zip);

} // namespace tarnel
