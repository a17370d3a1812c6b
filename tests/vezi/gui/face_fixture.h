// The fixture of GUI tests that make faces in Zol: `show-face` makes a
// face's window the way `show` will (the handle at the head of its state
// block), a shown window face `w`, and faces made in it, destroyed after
// the test. Changes only mark their bits (no auto-sync): the tests apply
// them.
// The evaluator's fixture comes before the platform's headers, whose
// TextOut macro would rename its text sink.
#pragma once
#include "tests/evaluator/eval.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tests/vezi/gui/face_windows.h"

class FaceWindowTest : public EvalTest {
protected:
    void SetUp() override {
        EvalTest::SetUp();
        ASSERT_EQ(run("system/vezi/auto-sync?: false"
                      " show-face: func [f parent][f/state: reduce ["
                      "system/vezi/platform/make-vezi f parent 0 none false] f/state/1]"
                      " none"),
                  "none");
    }
    // Destroys the faces the tests keep in these words (children before
    // the window), then handles what their ending sent.
    void TearDown() override {
        run("foreach x [f t a b c p p1 p2 w][if all [value? x object? get x block? get in get x 'state]"
            "[system/vezi/platform/destroy-vezi get x false] set x none]");
        drain();
        gui::awake = [] { return (int32_t)1; };
        EvalTest::TearDown();
    }
    // What the test saw of the events so far is dropped once a window is made.
    virtual void forget_events() = 0;
    // Makes the window of a window face `w` from its spec, shown.
    HWND window(const std::string& spec) {
        EXPECT_EQ(run("w: make face! [type: 'window " + spec + "] show-face w system/vezi/platform/make-null-handle"
                      " type? w/state/1"),
                  "handle!");
        HWND h = face_window("w");
        ShowWindow(h, SW_SHOWNORMAL);
        drain();
        forget_events();
        return h;
    }
    // A face held by the global word `name`, made in the window.
    HWND child(const std::string& name, const std::string& spec) {
        EXPECT_EQ(run(name + ": make face! [" + spec + "] show-face " + name + " w/state/1 type? " + name +
                      "/state/1"),
                  "handle!");
        drain();
        forget_events();
        return face_window(name);
    }
};
