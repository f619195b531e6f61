// Shared by the plot's engine tests and its painter tests: cells x and y
// named as the plot's cells, the plot started afresh, and every hook the
// plot installs removed again at the end.
#pragma once

#include "engine_fixture.h"

#include "plot/plot.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "web/cell.h"

namespace tarvex::test {

class PlotCellsTest : public EngineTest {
  protected:
    // Called by SetUp once home exists.
    void plot_cells_start() {
        x = cell_create("x");
        y = cell_create("y");
        settings_set_plot_cells("x,y");
        plot_install();
        plot_reset();
    }
    void TearDown() override {
        plot_end();
        cell_set_value_hook(nullptr);
        settings_set_plot_colour_hook(nullptr);
        run_set_plot_hooks(nullptr, nullptr, nullptr);
        EngineTest::TearDown();
    }
    CellHandle x = 0, y = 0;
};

} // namespace tarvex::test
