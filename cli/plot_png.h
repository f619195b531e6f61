// The runner's PNG writer, a module loaded only for --plot: linking QtGui
// into tarvex-run itself would cost every run Qt's start-up. The module
// takes the plot surface from the runner that loads it, so it must come
// from the same build; its version is checked before it is used.
#pragma once

namespace tarvex {

// The module's file name; it is looked for beside tarvex-run (the build
// tree), then in the folder it is installed to, relative to tarvex-run.
constexpr const char* PLOT_PNG_MODULE = "tarvex-run-plot.so";

// Its entry points (extern "C", so they are found by these names).
constexpr const char* PLOT_PNG_VERSION_ENTRY = "tarvex_plot_png_version";
constexpr const char* PLOT_PNG_WRITE_ENTRY = "tarvex_plot_png_write";
using PlotPngVersionFn = const char* (*)();
// Writes the current plot surface to path as a PNG; false when it could not.
using PlotPngWriteFn = bool (*)(const char* path);

} // namespace tarvex
