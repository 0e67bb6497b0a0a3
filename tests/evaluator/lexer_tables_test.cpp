// The lexer's transition table, checked cell by cell against its rows written the way the
// automaton is documented: a default target, then groups of byte classes with their target.
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "evaluator/lexer_tables.hpp"

namespace kov::lexer {
namespace {

struct Row {
    int state;
    int fallback;
    const char* others;
};

const Row rows[] = {
        {0, 52, "blank lf ctl: 0; ;: 1; \": 2; %: 6; /: 13; #: 16; digit zero: 23; $: 36; E hexu: 40; <: 43; + -: 47; .: 49; ' :: 51; @: 57; =: 58; end: 66; } \\ cont bad: 67; [: 68; ]: 69; (: 70; ): 71; {: 72; ,: 78"},
        {1, 1, "bad: 67; lf end: 77"},
        {2, 2, "^: 3; lf bad end: 67; \": 79"},
        {3, 2, "bad end: 67"},
        {4, 4, "^: 5; bad end: 67; {: 72; }: 73"},
        {5, 4, "bad end: 67"},
        {6, 7, "\": 8; %: 9; {: 10; :: 54; bad: 67; blank lf [ ] ( ) } ; @ ctl end: 80"},
        {7, 7, "\" bad: 67; blank lf [ ] ( ) { } : ; @ end: 85"},
        {8, 8, "lf bad end: 67; \": 85"},
        {9, 7, "%: 9; {: 10; bad: 67; blank lf [ ] ( ) } \" \\ ; ctl end: 80"},
        {10, 10, "}: 11; bad end: 67"},
        {11, 10, "}: 11; %: 12; bad end: 67"},
        {12, 67, "%: 12; blank lf [ ] ( ) { \" < ; ctl end: 100"},
        {13, 14, "/: 15; :: 53; , bad: 67; blank lf [ ] ( ) { } \" # ; @ ctl end: 80"},
        {14, 14, ": , bad: 67; blank lf [ ] ( ) { } \" / ; @ ctl end: 83"},
        {15, 52, "/: 15; % , $ bad: 67; blank lf [ ] ( ) { } \" # ; @ ctl end: 80"},
        {16, 22, "{: 17; \": 19; (: 21; blank lf ] ) } : < > , bad: 67; [: 74; ; @ ctl end: 81"},
        {17, 67, "blank lf digit zero x T h e E hexl hexu / = + letter: 17; ;: 18; }: 86"},
        {18, 18, "lf: 17; bad end: 67"},
        {19, 19, "^: 20; bad end: 67; \": 84"},
        {20, 19, "bad end: 67"},
        {21, 21, "bad end: 67; ): 76"},
        {22, 22, ": / bad: 67; blank lf [ ] ( ) { } \" ; @ ctl end: 81"},
        {23, 82, "#: 16; digit zero ': 23; .: 24; e: 26; E: 27; T / -: 30; :: 31; x: 33; hexu: 39; h: 42; @: 56; hexl \\ > = $ + ^ cont letter bad: 67; %: 87"},
        {24, 67, "digit zero ': 25; e E: 26; #: 28; x: 33; %: 87; blank lf [ ] ( ) { } \" / < , ; ctl end: 88"},
        {25, 88, "digit zero ': 25; e E: 26; .: 29; x: 33; @: 56; # T h hexl hexu \\ > = $ + - ^ cont letter bad: 67; %: 87"},
        {26, 67, "digit zero + -: 26; @: 56; blank lf [ ] ( ) { } \" : / < , ; ctl end: 88"},
        {27, 88, "+ -: 26; digit zero: 27; .: 29; E hexu: 40; h: 42; @: 56; # ' x T e hexl \\ > = ; $ ^ cont letter bad: 67; %: 87"},
        {28, 89, "x T h e E hexl hexu > = . + - cont letter: 28; # ' : % @ $ ^ bad: 67; digit: 88"},
        {29, 67, "digit zero .: 29; blank lf [ ] ( ) { } \" : / < ; ctl end: 90"},
        {30, 30, "% , @ ^ cont bad: 67; blank lf [ ] ( ) { } \" < ; $ ctl end: 91"},
        {31, 67, "digit zero: 32"},
        {32, 67, "digit zero : .: 32; blank lf [ ] ( ) { } \" / < ; ctl end: 94"},
        {33, 67, "digit zero + -: 34; @: 56"},
        {34, 67, "digit zero e E .: 34; @: 56; blank lf [ ] ( ) { } \" : / < ; ctl end: 92"},
        {35, 67, "blank digit zero ] # e E hexl hexu , . + - letter: 35; ): 93"},
        {36, 67, "digit zero: 37"},
        {37, 67, "digit zero ': 37; .: 38; blank lf [ ] ( ) { } \" # : / < ; ctl end: 95"},
        {38, 67, "digit zero ': 38; blank lf [ ] ( ) { } \" # : / < ; ctl end: 95"},
        {39, 67, "digit zero E hexu: 39; h: 41; @: 56"},
        {40, 80, "$: 37; digit zero E hexu: 40; h: 41; ' x T e hexl < > = . + - ^ cont letter: 52; :: 53; @: 56; % , bad: 67; /: 75"},
        {41, 52, "$: 37; :: 53; @: 56; # % , bad: 67; /: 75; blank lf [ ] ( ) { } \" \\ ; ctl end: 99"},
        {42, 67, "$: 37; @: 56; /: 75; blank lf [ ] ( ) { } \" \\ < ; ctl end: 99"},
        {43, 44, "<: 43; ': 46; > = -: 52; :: 53; bad: 67; blank lf [ ] ( ) { } \" ; ctl end: 80"},
        {44, 44, "\": 45; ': 46; bad end: 67; >: 96"},
        {45, 45, "\": 44; bad end: 67"},
        {46, 46, "': 44; bad end: 67"},
        {47, 52, "digit zero: 23; $: 37; .: 49; ' % ^ bad: 67; /: 75; blank lf [ ] ( ) { } \" # \\ ; ctl end: 80"},
        {48, 52, "' % $ ^ bad: 67; /: 75; blank lf [ ] ( ) { } \" # \\ ; ctl end: 80"},
        {49, 52, "digit zero + -: 50; :: 53; @: 56; % , $ bad: 67; /: 75; blank lf [ ] ( ) { } \" # \\ ; ctl end: 80"},
        {50, 67, "x: 33; digit zero e E + -: 50; @: 56; %: 87; blank lf [ ] ( ) { } \" : / < ctl end: 88"},
        {51, 67, "/: 13; <: 43; + -: 48; x T h e E hexl hexu > . ^ cont letter: 52; %: 54; =: 58"},
        {52, 52, "$: 36; :: 53; @: 56; % , bad: 67; /: 75; blank lf [ ] ( ) { } \" # \\ < ; ctl end: 80"},
        {53, 55, "< bad: 67; blank lf [ ] ( ) { } \" \\ ; ctl end: 80"},
        {54, 67, "%: 54; blank lf [ ] ( ) { } \\ ; ctl end: 80"},
        {55, 55, "> ^ bad: 67; blank lf [ ] ( ) { } \" \\ < ; ctl end: 97"},
        {56, 98, "digit zero x T h e E hexl hexu % . + - cont letter: 56; # ' : > = , @ $ ^ bad: 67"},
        {57, 57, "# ' \\ > = , @ $ ^ bad: 67; blank lf [ ] ( ) { } \" < ; ctl end: 101"},
        {58, 52, "# % , @ $ bad: 67; /: 75; blank lf [ ] ( ) { } \" : \\ ; ctl end: 80"},
        {59, 67, "\": 2; $: 36; <: 43; @: 57; digit zero: 60; ' :: 61; x T h e E hexl hexu > = . cont letter: 62; #: 63; + -: 64; (: 70; ): 71"},
        {60, 67, ".: 24; e E: 26; x: 33; @: 56; digit zero ': 60; blank lf [ ] ( ) { } \" : / < ; ctl end: 82; %: 87"},
        {61, 67, "x T h e E hexl hexu < > = . + - cont letter: 62"},
        {62, 62, "$: 36; @: 56; # % , bad: 67; blank lf [ ] ( ) { } \" : / \\ ; ctl end: 80"},
        {63, 22, "\": 19; [: 21; blank lf ] ( ) { } : / < > = , ; @ ctl bad end: 67"},
        {64, 80, "$: 36; @: 56; digit zero: 60; x T h e E hexl hexu > = . cont letter: 62; + -: 64; # ' < % , ^ bad: 67"},
};

const char* const labels[CLASS_COUNT] = {
    "blank", "lf", "digit", "zero", "[", "]", "(", ")", "{", "}", "\"", "#", "'", ":", "x", "T",
    "h", "e", "E", "hexl", "hexu", "/", "\\", "<", ">", "=", "%", ",", ";", "@", ".", "$", "+",
    "-", "^", "ctl", "cont", "letter", "bad", "end"};

int class_of(const std::string& label) {
    for (int c = 0; c < CLASS_COUNT; c++)
        if (label == labels[c]) return c;
    return -1;
}

bool number_q(const std::string& t) {
    size_t n = t.size() - (t.back() == ';' ? 1 : 0);
    if (n == 0) return false;
    for (size_t i = 0; i < n; i++)
        if (t[i] < '0' || t[i] > '9') return false;
    return true;
}

TEST(LexerTables, EveryTransitionOfEveryRow) {
    ASSERT_EQ(sizeof rows / sizeof rows[0], size_t(STATE_COUNT));
    for (const Row& r : rows) {
        std::vector<int> expected(CLASS_COUNT, r.fallback);
        std::istringstream in(r.others);
        std::string token;
        std::vector<int> pending;
        while (in >> token) {
            if (number_q(token)) {
                ASSERT_FALSE(pending.empty()) << r.state;
                for (int c : pending) expected[c] = std::stoi(token);
                pending.clear();
                continue;
            }
            std::string label = token.size() > 1 && token.back() == ':' ? token.substr(0, token.size() - 1) : token;
            int c = class_of(label);
            ASSERT_GE(c, 0) << r.state << " " << label;
            pending.push_back(c);
        }
        ASSERT_TRUE(pending.empty()) << r.state;
        for (int c = 0; c < CLASS_COUNT; c++)
            EXPECT_EQ(int(transitions[r.state][c]), expected[c]) << "state " << r.state << " class " << labels[c];
    }
}

TEST(LexerTables, SideTables) {
    const char* terminators[] = {"blank", "lf", "[", "]", "(", ")", "{", "\"", ":", "<", ";", "letter", "bad", "end"};
    int count = 0;
    for (const char* t : terminators) {
        EXPECT_EQ(path_terminator[class_of(t)], 1) << t;
        count++;
    }
    int set = 0;
    for (int c = 0; c < CLASS_COUNT; c++) set += path_terminator[c];
    EXPECT_EQ(set, count);
    for (int c = 0; c < CLASS_COUNT; c++) EXPECT_EQ(line_count[c], c == C_LF ? 1 : 0);
}

}  // namespace
}  // namespace kov::lexer
