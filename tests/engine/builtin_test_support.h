// Shared by the builtin tests: a fixture with the builtin tree, one that
// runs scripts in home, argument lists built from plain C++ values, and a
// call that returns what the result showed and releases it.
#pragma once

#include "engine_fixture.h"

#include "builtins/builtins.h"
#include "core/name_tree.h"
#include "core/value.h"
#include "web/cell.h"
#include "web/navigation.h"

#include <cmath>
#include <initializer_list>
#include <string>

namespace tarvex::test {

class Builtins : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        builtins_init();
    }
};

// Scripts run in home: what a run printed, "error N" when it failed.
class BuiltinRuns : public Builtins {
  protected:
    void SetUp() override {
        Builtins::SetUp();
        cell_create("home");
        navigation_reset();
    }
    std::string run(const std::string& script) {
        ui.console.clear();
        int r = run_in_home(script);
        return r == 0 ? ui.console : "error " + std::to_string(r);
    }
};

struct Arg {
    enum Kind { Number, String, Empty, Flagged } kind;
    double d = 0.0;
    std::string s;
};
inline Arg num(double d) { return {Arg::Number, d, {}}; }
inline Arg str(std::string s) { return {Arg::String, 0.0, std::move(s)}; }
inline Arg empty() { return {Arg::Empty, 0.0, {}}; }
// A number flagged as not valid, as 1/0 leaves it.
inline Arg flagged() { return {Arg::Flagged, INFINITY, {}}; }

inline NodeHandle make_args(std::initializer_list<Arg> args) {
    NodeHandle head = 0, tail = 0;
    for (const Arg& a : args) {
        NodeHandle v = value_new();
        chain_append(&head, &tail, v);
        switch (a.kind) {
        case Arg::Number: value_set_kind(v, VK_NUMBER), value_set_number(v, a.d); break;
        case Arg::String: value_set_cstring(v, a.s.c_str()); break;
        case Arg::Empty: break;
        case Arg::Flagged:
            value_set_kind(v, VK_NUMBER);
            value_set_number(v, a.d);
            value_set_flags(v, VF_NAN);
            break;
        }
    }
    return head;
}

struct Outcome {
    int32_t status = 0;
    uint8_t kind = VK_EMPTY;
    uint8_t flags = 0;
    double number = 0.0;
    std::string shown;
};

// What a builtin gave back, its result released.
inline Outcome outcome_of(int status, NodeHandle result) {
    Outcome o;
    o.status = status;
    if (result != 0) {
        o.kind = value_kind(result);
        o.flags = value_flags(result);
        o.number = value_number(result);
        o.shown = value_display(result);
        value_free(result);
    }
    return o;
}

inline Outcome call(const char* name, std::initializer_list<Arg> args) {
    NodeHandle entry = tree_find(name, builtin_root());
    EXPECT_NE(entry, 0) << name;
    NodeHandle result = 0;
    int status = builtin_call(entry, make_args(args), &result);
    return outcome_of(status, result);
}

} // namespace tarvex::test
