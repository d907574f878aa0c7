#pragma once
// A pane bound to headless controls, with helpers to fill its listing by hand.
#include "panes/DirData.h"
#include "panes/HeadlessPane.h"

#include <string>
#include <vector>

namespace tarnel::test {

struct PaneFixture {
    HeadlessPane controls;
    DriveList drives;
    TDirData pane;

    PaneFixture()
    {
        pane.Controls = &controls;
        pane.Drives = &drives;
    }

    TFileData& Add(FileKind kind, const std::string& name, int64_t size = 0, int32_t time = 0,
                   const std::string& description = "")
    {
        TFileData& e = pane.NewEntry();
        e.Kind = kind;
        e.Name = name;
        e.Size = size;
        e.Time = time;
        e.Description = description;
        pane.Items.push_back(&e);
        ++pane.Count;
        if (kind == fkDirectory)
            ++pane.DirCount;
        else if (kind == fkFile)
            ++pane.FileCount;
        else
            ++pane.DriveCount;
        controls.SetRowCount(pane.Count);
        return e;
    }

    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (int i = 0; i < pane.Count; ++i)
            names.push_back(pane.Item(i).Name);
        return names;
    }
};

} // namespace tarnel::test
