// Reading the recording backend's log of a lander's host calls: expected
// calls written as tables, with "any value" where a test does not care.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "recording/RecordingBackend.h"

namespace vtal::testing {

using recording::Arg;
using recording::Call;

// One expected argument, or "any" for one a test does not care about (a
// stack address, say). Kept as plain fields rather than an Arg so that the
// long literal tables stay cheap to build.
struct ExpectedArg {
    enum Kind { kAny, kInt, kNum, kText, kPtr };
    ExpectedArg(double v) : kind(kNum), num(v) {}
    static ExpectedArg Any() { return ExpectedArg(kAny); }
    static ExpectedArg OfInt(long long v) {
        ExpectedArg a(kInt);
        a.integer = v;
        return a;
    }
    static ExpectedArg OfText(const char *s) {
        ExpectedArg a(kText);
        a.text = s;
        return a;
    }
    static ExpectedArg OfPtr(const void *p) {
        ExpectedArg a(kPtr);
        a.ptr = p;
        return a;
    }
    Arg AsArg() const {
        switch (kind) {
            case kInt: return Arg(integer);
            case kNum: return Arg(num);
            case kText: return Arg(text);
            default: return Arg(ptr);
        }
    }

    Kind kind;
    double num = 0.0;
    long long integer = 0;
    std::string text;
    const void *ptr = nullptr;

private:
    explicit ExpectedArg(Kind k) : kind(k) {}
};
inline const ExpectedArg kAnyArg = ExpectedArg::Any();

inline ExpectedArg Ptr(const void *p) { return ExpectedArg::OfPtr(p); }
inline ExpectedArg Int(long long v) { return ExpectedArg::OfInt(v); }
inline ExpectedArg Text(const char *s) { return ExpectedArg::OfText(s); }


struct ExpectedCall {
    ExpectedCall(std::string n, std::vector<ExpectedArg> a) : name(std::move(n)), args(std::move(a)) {}
    // Only the name; another test pins the arguments.
    static ExpectedCall Named(std::string n) {
        ExpectedCall c(std::move(n), {});
        c.checkArgs = false;
        return c;
    }
    std::string name;
    std::vector<ExpectedArg> args;
    bool checkArgs = true;
};

inline void ExpectCall(const Call &actual, const ExpectedCall &expected, std::size_t index) {
    SCOPED_TRACE("call #" + std::to_string(index) + " " + expected.name);
    ASSERT_EQ(actual.name, expected.name);
    if (!expected.checkArgs) return;
    ASSERT_EQ(actual.args.size(), expected.args.size());
    for (std::size_t i = 0; i < actual.args.size(); ++i) {
        if (expected.args[i].kind != ExpectedArg::kAny) {
            EXPECT_EQ(actual.args[i], expected.args[i].AsArg()) << "argument " << i;
        }
    }
}

inline void ExpectCalls(const std::vector<Call> &actual, const std::vector<ExpectedCall> &expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) ExpectCall(actual[i], expected[i], i);
}

// The handle a Create... call returned: its last argument.
inline const void *Returned(const Call &c) { return c.ptr(c.args.size() - 1); }

// The handle returned by the texture registration of `name`.
inline const void *TextureHandle(const recording::RecordingBackend &rec, const std::string &name) {
    for (const Call &c : rec.callsNamed("oapiRegisterExhaustTexture"))
        if (c.text(0) == name) return Returned(c);
    ADD_FAILURE() << "texture never registered: " << name;
    return nullptr;
}

// Calls made by one vessel (or, with null, by the oapi... functions).
inline std::vector<Call> CallsNamedBy(const recording::RecordingBackend &rec, const std::string &name,
                                      OBJHANDLE vessel) {
    std::vector<Call> out;
    for (const Call &c : rec.calls)
        if (c.name == name && c.vessel == vessel) out.push_back(c);
    return out;
}

}  // namespace vtal::testing
