// The scalar builtins: mathematical and trigonometric functions, sign, stp,
// sig, abs, pow, the random generator and mem.
#include "builtins/builtin_args.h"
#include "builtins/builtins.h"
#include "settings/settings.h"

#include <cmath>

namespace tarvex {

namespace {

// Degrees per radian, as the deg constant holds it.
const double k_deg = 180.0 / (2.0 * std::asin(1.0));

constexpr int32_t SEED_DEFAULT = 123456;
uint32_t g_rand_state = 1;
int32_t g_seed = SEED_DEFAULT;

int rand_next() {
    g_rand_state = g_rand_state * 1103515245u + 12345u;
    return static_cast<int>((g_rand_state / 65536u) % 32768u);
}

bool in_degrees() { return settings_trig_units() == TRIG_DEGREES; }

// A library function's result is a fresh number: flagged only when it is
// not a number, whatever the argument's flags were (atan(1/0) is 90, and
// an infinite result such as ln(0) is not flagged).
uint8_t nan_flag(double y) { return std::isnan(y) ? VF_NAN : 0; }

int32_t apply(NodeHandle result, double (*f)(double)) {
    NodeHandle a = arg_number(result, 0);
    if (a == 0) return SE_BUILTIN_ARG;
    double y = f(value_number(a));
    result_set_number(result, y, nan_flag(y));
    return 0;
}

int32_t apply_to_angle(NodeHandle result, double (*f)(double)) {
    NodeHandle a = arg_number(result, 0);
    if (a == 0) return SE_BUILTIN_ARG;
    if (in_degrees()) {
        double x = value_number(a);
        uint8_t flags = value_flags(a) & ~VF_DUAL;
        if (num_div(x, k_deg) != 0) flags |= VF_NAN;
        value_set_number(a, x);
        value_set_flags(a, flags);
    }
    return apply(result, f);
}

int32_t apply_giving_angle(NodeHandle result, double (*f)(double)) {
    int32_t status = apply(result, f);
    if (status == 0 && in_degrees()) {
        double y = value_number(result);
        uint8_t flags = value_flags(result);
        if (num_mul(y, k_deg) != 0) flags |= VF_NAN;
        result_set_number(result, y, flags);
    }
    return status;
}

// sign and stp overwrite the argument's number and hand the argument, with
// its flags, over as the result.
int32_t replace_and_copy(NodeHandle result, double (*rule)(int cmp)) {
    NodeHandle a = arg_number(result, 0);
    if (a == 0) return SE_BUILTIN_ARG;
    value_set_number(a, rule(num_compare(value_number(a), 0.0)));
    value_set_flags(a, value_flags(a) & ~VF_DUAL);
    value_copy(result, a);
    return 0;
}

} // namespace

int32_t builtin_sin(NodeHandle r) { return apply_to_angle(r, std::sin); }
int32_t builtin_cos(NodeHandle r) { return apply_to_angle(r, std::cos); }
int32_t builtin_tan(NodeHandle r) { return apply_to_angle(r, std::tan); }
int32_t builtin_asin(NodeHandle r) { return apply_giving_angle(r, std::asin); }
int32_t builtin_acos(NodeHandle r) { return apply_giving_angle(r, std::acos); }
int32_t builtin_atan(NodeHandle r) { return apply_giving_angle(r, std::atan); }
int32_t builtin_sqrt(NodeHandle r) { return apply(r, std::sqrt); }
int32_t builtin_ln(NodeHandle r) { return apply(r, std::log); }
int32_t builtin_log(NodeHandle r) { return apply(r, std::log10); }
int32_t builtin_exp(NodeHandle r) { return apply(r, std::exp); }

int32_t builtin_pow(NodeHandle r) {
    NodeHandle a = arg_number(r, 0), b = arg_number(r, 1);
    if (a == 0 || b == 0) return SE_BUILTIN_ARG;
    double y = std::pow(value_number(a), value_number(b));
    result_set_number(r, y, nan_flag(y));
    return 0;
}

int32_t builtin_sig(NodeHandle r) {
    NodeHandle a = arg_number(r, 0);
    if (a == 0) return SE_BUILTIN_ARG;
    value_negate(a);
    double e = std::exp(value_number(a));
    uint8_t flags = nan_flag(e);
    double s = 1.0;
    if (num_add(s, e) != 0) flags |= VF_NAN;
    double y = 1.0;
    if (num_div(y, s) != 0) flags |= VF_NAN;
    result_set_number(r, y, flags);
    return 0;
}

int32_t builtin_sign(NodeHandle r) {
    return replace_and_copy(r, [](int cmp) { return static_cast<double>(cmp); });
}

int32_t builtin_stp(NodeHandle r) {
    return replace_and_copy(r, [](int cmp) { return cmp >= 0 ? 1.0 : 0.0; });
}

int32_t builtin_abs(NodeHandle r) {
    NodeHandle a = arg_number(r, 0);
    if (a == 0) return SE_BUILTIN_ARG;
    if (num_compare(value_number(a), 0.0) < 0) value_negate(a);
    value_copy(r, a);
    return 0;
}

int32_t builtin_rand(NodeHandle r) {
    NodeHandle a = arg_number(r, 0);
    if (a != 0) {
        // The integer part, reduced into the 32-bit range when it lies
        // outside it; zero (and a non-number) take the default seed.
        double t = std::trunc(value_number(a));
        int32_t seed = 0;
        if (std::isfinite(t)) {
            double m = std::fmod(t, 4294967296.0);
            if (m < 0) m += 4294967296.0;
            seed = static_cast<int32_t>(static_cast<uint32_t>(m));
        }
        if (seed == 0) seed = SEED_DEFAULT;
        g_seed = seed;
        g_rand_state = static_cast<uint32_t>(seed);
    }
    result_set_number(r, rand_next() / 32767.0, 0);
    return 0;
}

int32_t builtin_mem(NodeHandle r) {
    result_set_number(r, nodes_in_use(), 0);
    return 0;
}

void rand_reset() {
    g_rand_state = 1;
    g_seed = SEED_DEFAULT;
}

int32_t rand_seed() { return g_seed; }

} // namespace tarvex
