// The file list's model without widgets: adding files (duplicate rule, duration from the
// probe, zoom mode, output name) and the selection after a removal.
#pragma once

#include <string>
#include <vector>

#include "appcore/ConversionQueue.h"
#include "appcore/OutputNaming.h"

namespace tovi {

class TGlobalObject;

// Adds `paths` to `rows` in order. Each path is opened once as a temporary converter task
// (the converter's task list is emptied before and after): folders, paths equal
// (exactly, letter case counts) to a row's caption, and files the converter cannot open
// are skipped without a message. A new row is checked and carries its output name
// (the chosen profile's FileExt in the output folder), the probe's duration in whole
// seconds (0 when unknown) and the profile's zoom mode. Output-folder warnings go to
// `warn`. Returns the number of rows added. Call it from the thread that drives the
// converter, while no conversion runs.
int AddFilesToList(std::vector<TFileRow> &rows, const std::vector<std::string> &paths,
                   TCustomConverter &converter, const TGlobalObject &global, const TWarningSink &warn = {});

// The row to select after row `removed` of `countBefore` rows was removed: the row that
// took its place, or the new last row; -1 when the list is empty.
int RowAfterRemove(int countBefore, int removed);

} // namespace tovi
