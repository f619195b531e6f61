// The matrix builtins: rref (reduced row echelon form) and gaussj
// (Gauss-Jordan inversion and solution), working in place on matrices held
// row by row in consecutive cells of the cell table.
#include "builtins/builtin_args.h"
#include "builtins/builtins.h"
#include "web/cell.h"

#include <cmath>
#include <utility>

namespace tarvex {

namespace {

// gaussj's bookkeeping arrays; 16 x 16 elements fill the whole cell table.
constexpr int GAUSSJ_MAX = 16;

// The matrix workspace: A (first cell index, rows, columns) and gaussj's
// right-hand sides B (first cell index, columns; A's rows).
int g_a_first = 0, g_a_rows = 0, g_a_cols = 0;
int g_b_first = 0, g_b_cols = 0;

// Reading an element makes the cell's current value a number (a cell
// without a value gets a new empty one).
NodeHandle element_value(int index) {
    CellHandle c = cell_table_at(index);
    NodeHandle v = cell_value(c);
    if (v == 0) {
        v = value_new();
        cell_put(c, CF_VALUE, v);
    }
    return v;
}

double element_get(int index) {
    NodeHandle v = value_to_number(element_value(index));
    value_set_flags(v, value_flags(v) & ~VF_DUAL);
    return value_number(v);
}

void element_set(int index, double d) {
    NodeHandle v = element_value(index);
    Text stale = value_text(v);
    value_set_text_handle(v, 0);
    text_free(stale);
    value_set_kind(v, VK_NUMBER);
    value_set_flags(v, 0);
    value_set_number(v, d);
}

int a_at(int i, int j) { return g_a_first + i * g_a_cols + j; }
int b_at(int i, int j) { return g_b_first + i * g_b_cols + j; }
double a_get(int i, int j) { return element_get(a_at(i, j)); }
void a_set(int i, int j, double d) { element_set(a_at(i, j), d); }
double b_get(int i, int j) { return element_get(b_at(i, j)); }
void b_set(int i, int j, double d) { element_set(b_at(i, j), d); }

void swap_elements(int p, int q) {
    double x = element_get(p), y = element_get(q);
    element_set(p, y);
    element_set(q, x);
}

// Index of the cell named by an argument, or -1.
int cell_index_arg(NodeHandle arg) {
    CellHandle c = arg_cell(arg);
    return c == 0 ? -1 : cell_table_index_of(c);
}

// True when rows x cols elements from index first stay inside the table.
bool fits(int first, int rows, int cols) {
    return static_cast<int64_t>(first) + static_cast<int64_t>(rows) * cols <= cell_table_count();
}

int32_t load_a(NodeHandle name, int16_t rows, int16_t cols) {
    int p = cell_index_arg(name);
    if (p < 0) return SE_BUILTIN_ARG;
    g_a_first = p;
    g_a_rows = rows;
    g_a_cols = cols;
    g_b_first = 0;
    g_b_cols = 0;
    return fits(p, rows, cols) ? 0 : SE_BUILTIN_ARG;
}

void rref_run() {
    const int nrows = g_a_rows, ncols = g_a_cols;
    int lead = 0;
    for (int col = 0; lead < nrows && col < ncols; ++col) {
        double big = a_get(lead, col);
        int prow = lead;
        for (int i = lead; i < nrows; ++i) {
            double m = std::fabs(a_get(i, col));
            if (big < m) {
                big = m;
                prow = i;
            }
        }
        if (big <= equality_tolerance()) {
            for (int i = lead; i < nrows; ++i)
                a_set(i, col, 0.0);
            continue;
        }
        if (prow != lead)
            for (int j = col; j < ncols; ++j)
                swap_elements(a_at(prow, j), a_at(lead, j));
        double pivot = a_get(lead, col);
        for (int j = col; j < ncols; ++j)
            a_set(lead, j, a_get(lead, j) / pivot);
        for (int i = 0; i < nrows; ++i) {
            if (i == lead) continue;
            double f = a_get(i, col);
            for (int j = col; j < ncols; ++j)
                a_set(i, j, a_get(i, j) - f * a_get(lead, j));
        }
        ++lead;
    }
}

// Returns false when A is singular; the cells keep what the elimination
// had done by then.
bool gaussj_run() {
    const int n = g_a_rows, m = g_b_cols;
    int ipiv[GAUSSJ_MAX] = {}, indxr[GAUSSJ_MAX] = {}, indxc[GAUSSJ_MAX] = {};
    for (int s = 0; s < n; ++s) {
        double big = 0.0;
        int irow = -1, icol = -1;
        for (int j = 0; j < n; ++j) {
            if (ipiv[j] == 1) continue;
            for (int k = 0; k < n; ++k) {
                if (ipiv[k] == 0) {
                    double v = std::fabs(a_get(j, k));
                    if (num_compare(v, big) >= 0) {
                        big = v;
                        irow = j;
                        icol = k;
                    }
                } else if (ipiv[k] > 1) {
                    return false;
                }
            }
        }
        if (irow < 0) return false; // nothing but non-numbers left to pivot on
        ++ipiv[icol];
        if (irow != icol) {
            for (int l = 0; l < n; ++l)
                swap_elements(a_at(irow, l), a_at(icol, l));
            for (int l = 0; l < m; ++l)
                swap_elements(b_at(irow, l), b_at(icol, l));
        }
        indxr[s] = irow;
        indxc[s] = icol;
        double pivot = a_get(icol, icol);
        if (pivot == 0.0) return false;
        double inv = 1.0 / pivot;
        a_set(icol, icol, 1.0);
        for (int l = 0; l < n; ++l)
            a_set(icol, l, a_get(icol, l) * inv);
        for (int l = 0; l < m; ++l)
            b_set(icol, l, b_get(icol, l) * inv);
        for (int r = 0; r < n; ++r) {
            if (r == icol) continue;
            double d = a_get(r, icol);
            a_set(r, icol, 0.0);
            for (int l = 0; l < n; ++l)
                a_set(r, l, a_get(r, l) - a_get(icol, l) * d);
            for (int l = 0; l < m; ++l)
                b_set(r, l, b_get(r, l) - b_get(icol, l) * d);
        }
    }
    for (int s = n - 1; s >= 0; --s) {
        if (indxr[s] == indxc[s]) continue;
        for (int k = 0; k < n; ++k)
            swap_elements(a_at(k, indxr[s]), a_at(k, indxc[s]));
    }
    return true;
}

} // namespace

int32_t builtin_rref(NodeHandle r) {
    NodeHandle name = arg_at(r, 0), rows = arg_at(r, 1), cols = arg_at(r, 2);
    if (name == 0 || rows == 0 || cols == 0) return SE_BUILTIN_ARG;
    int16_t nr = 0, nc = 0;
    if (arg_int16(rows, nr) != 0 || arg_int16(cols, nc) != 0) return SE_BUILTIN_ARG;
    if (int32_t status = load_a(name, nr, nc); status != 0) return status;
    rref_run();
    result_set_number(r, 0.0, 0);
    return 0;
}

int32_t builtin_gaussj(NodeHandle r) {
    NodeHandle a_name = arg_at(r, 0), size = arg_at(r, 1);
    NodeHandle b_name = arg_at(r, 2), b_size = arg_at(r, 3);
    if (a_name == 0 || size == 0) return SE_BUILTIN_ARG;
    if (b_name != 0 && b_size == 0) return SE_BUILTIN_ARG;
    int16_t n = 0, m = 0;
    if (arg_int16(size, n) != 0) return SE_BUILTIN_ARG;
    if (b_name != 0 && arg_int16(b_size, m) != 0) return SE_BUILTIN_ARG;
    if (int32_t status = load_a(a_name, n, n); status != 0) return status;
    if (b_name != 0) {
        int q = cell_index_arg(b_name);
        if (q < 0 || !fits(q, n, m)) return SE_BUILTIN_ARG;
        g_b_first = q;
        g_b_cols = m;
    }
    // A full table holds at most 16 x 16 elements, so this only guards the
    // bookkeeping arrays.
    if (n > GAUSSJ_MAX) return SE_BUILTIN_ARG;
    result_set_number(r, gaussj_run() ? 0.0 : -1.0, 0);
    return 0;
}

} // namespace tarvex
