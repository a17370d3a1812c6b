// typeset!, bitset!, file! and url! as the language sees them, and the set
// and text coding natives over them.
#include "tests/evaluator/eval.h"

namespace {

class Typesets : public EvalTest {};

TEST_F(Typesets, Typesets) {
    check({
        {"mold make typeset! [integer! float!]", "\"make typeset! [integer! float!]\""},
        {"find make typeset! [integer! float!] integer!", "true"},
        {"find make typeset! [integer! float!] string!", "false"},
        {"find make typeset! [] 1", "script/invalid-arg"},
        {"make typeset! 1", "script/bad-to-arg"},
        {"mold exclude make typeset! [integer! float!] float!", "\"make typeset! [integer!]\""},
        {"mold union make typeset! [integer!] make typeset! [float!]", "\"make typeset! [integer! float!]\""},
        {"mold union make typeset! [integer!] string!", "\"make typeset! [string! integer!]\""},
        {"union make typeset! [integer!] 1", "script/expect-arg"},
        {"union make typeset! [integer!] make bitset! 8", "script/expect-val"},
        {"to block! make typeset! [integer! float!]", "[integer! float!]"},
    });
}

TEST_F(Typesets, Bitsets) {
    check({
        {"length? make bitset! \"a\"", "104"},
        {"mold make bitset! []", "\"make bitset! #{00}\""},
        {"make bitset! [#\"z\" - #\"a\"]", "script/past-end"},
        {"b: make bitset! [not \"a\"] find b 100000", "true"},
        {"b: make bitset! [not \"a\"] find b #\"a\"", "none"},
        {"b: make bitset! 8 poke b 3 true mold b", "\"make bitset! #{10}\""},
        {"remove make bitset! \"a\"", "script/missing-arg"},
        {"b: union make bitset! [not \"a\"] make bitset! [not \"b\"] find b #\"a\"", "true"},
        {"complement? make bitset! [not \"a\"]", "true"},
        {"b: make bitset! 8 b/3: true b/3", "true"},
    });
}

TEST_F(Typesets, FilesAndUrls) {
    check({
        {"to file! \"a b\"", "%\"a b\""},
        {"mold to url! \"http://a/b c\"", "\"http://a/b%20c\""},
        {"u: to url! \"http://a.b\" u/x", "http://a.b/x"},
        {"u: to url! \"http://a.b\" u/x: 1", "script/bad-path-set"},
        {"dehex \"%C3x\"", "\"\xC3\x83x\""},
        {"dehex \"%zz\"", "\"%zz\""},
        {"enhex \"a/b c\"", "\"a%2Fb%20c\""},
        {"to-local-file to file! \"/c/dir/file.txt\"", "\"c:\\dir\\file.txt\""},
        {"to-local-file to file! \"/server/share\"", "\"\\\\server\\share\""},
    });
}

}  // namespace
