// The console's line reader on piped input: line ends (a carriage return stays, a last line
// without a line feed is still read), invalid UTF-8 made U+FFFE, raw reads sharing the bytes
// read ahead, and the end of input answered again and again.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "console/input.hpp"

namespace kov {
namespace {

// Replaces standard input with a pipe holding the bytes (then closed) for the test's span.
class PipedInput : public testing::Test {
protected:
    void feed(const std::string& bytes) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        ASSERT_EQ(::write(fds[1], bytes.data(), bytes.size()), ssize_t(bytes.size()));
        ::close(fds[1]);
        saved_ = ::dup(0);
        ::dup2(fds[0], 0);
        ::close(fds[0]);
        console::reset_input();
    }
    void TearDown() override {
        if (saved_ >= 0) {
            ::dup2(saved_, 0);
            ::close(saved_);
        }
        console::reset_input();
    }
    std::string line() {
        std::string out;
        EXPECT_TRUE(console::read_line(">> ", nullptr, out));
        return out;
    }
    bool ended() {
        std::string out = "left over";
        bool got = console::read_line(">> ", nullptr, out);
        EXPECT_EQ(out, "");
        return !got;
    }

private:
    int saved_ = -1;
};

TEST_F(PipedInput, LinesEndAtLineFeedsAndKeepCarriageReturns) {
    feed("one\r\n\ntwo  \n");
    EXPECT_FALSE(console::stdin_terminal_q());
    EXPECT_EQ(line(), "one\r");
    EXPECT_EQ(line(), "");
    EXPECT_EQ(line(), "two  ");
    EXPECT_TRUE(ended());
    EXPECT_TRUE(ended());
}

TEST_F(PipedInput, LastLineWithoutLineFeedIsRead) {
    feed("first\nlast");
    EXPECT_EQ(line(), "first");
    EXPECT_EQ(line(), "last");
    EXPECT_TRUE(ended());
}

TEST_F(PipedInput, EmptyInputEndsAtOnce) {
    feed("");
    EXPECT_TRUE(ended());
}

TEST_F(PipedInput, InvalidUtf8BecomesFffe) {
    const std::string fffe = "\xEF\xBF\xBE";
    feed("a\xFF" "b\xC3(c\xE2\x82\xAC\xC0\xAF\xED\xA0\x80\xF0\x9F\x98\x80\n\xE2\x82");
    EXPECT_EQ(line(), "a" + fffe + "b" + fffe + "(c\xE2\x82\xAC" + fffe + fffe + fffe + fffe + fffe +
                          "\xF0\x9F\x98\x80");
    EXPECT_EQ(line(), fffe + fffe);  // a sequence cut by the end of input
    EXPECT_TRUE(ended());
}

TEST_F(PipedInput, RawReadsTakeTheBytesReadAheadFirst) {
    feed("line\nXYZrest\ntail");
    EXPECT_EQ(line(), "line");
    char buf[8] = {};
    EXPECT_EQ(console::read_stdin(buf, 3), 3u);
    EXPECT_EQ(std::string(buf, 3), "XYZ");
    EXPECT_EQ(line(), "rest");
    EXPECT_EQ(console::read_stdin(buf, 0), 0u);
    EXPECT_EQ(console::read_stdin(buf, 8), 4u);
    EXPECT_EQ(std::string(buf, 4), "tail");
    EXPECT_EQ(console::read_stdin(buf, 8), 0u);
    EXPECT_TRUE(ended());
}

TEST_F(PipedInput, LongLinesSpanManyReads) {
    std::string big(20000, 'x');
    feed(big + "\n" + big);
    EXPECT_EQ(line(), big);
    EXPECT_EQ(line(), big);
    EXPECT_TRUE(ended());
}

}  // namespace
}  // namespace kov
