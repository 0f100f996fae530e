// The fault report as a picture (SVG): per affected DIMM and chip select a
// panel of its banks (columns, left to right) by its rows (top to bottom, to
// scale), each error a tick at its bank and row, coloured by severity, and
// each fault a frame around the banks and rows it covers.
//
// Elements a reader can find again: panels are <g id="panel-s<S>d<D>c<C>cs<N>">
// with data-x, data-y (origin), data-bank-width, data-height and data-rows;
// errors are rects with class "error" and data-bank, data-row; fault frames
// rects with class "fault" and data-mode; legend swatches have ids
// "legend-corrected", "legend-uncorrected", "legend-fault", "legend-bank".
#pragma once

#include "tools/platsim/faults/fault_analysis.h"

#include <string>

namespace platsim::faults {

std::string RenderFaultSvg(Locator& locator, const Analysis& analysis,
                           const std::vector<logs::MemoryError>& errors, const std::string& title,
                           const std::string& subtitle = "");

}  // namespace platsim::faults
